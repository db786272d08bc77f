#include "src/emphasis.h"

namespace brelix {
namespace {

std::string_view start_sequence(Emphasis emphasis) {
  switch (emphasis) {
    case Emphasis::heading:
      return "\x1b[1m\x1b[4m";
    case Emphasis::literal:
      return "\x1b[1m";
    case Emphasis::error:
      return "\x1b[1m\x1b[31m";
    case Emphasis::tip:
      return "\x1b[32m";
    case Emphasis::valid:
      return "\x1b[32m";
    case Emphasis::invalid:
      return "\x1b[33m";
  }
  return "";
}

constexpr std::string_view reset_sequence = "\x1b[0m";

}  // namespace

Styler Styler::for_stream(platform::Stream stream) {
  return Styler(platform::is_colour_console(stream));
}

std::string Styler::operator()(Emphasis emphasis, std::string_view text) const {
  if (!enabled_) {
    return std::string(text);
  }
  std::string out(start_sequence(emphasis));
  out.append(text);
  out.append(reset_sequence);
  return out;
}

}  // namespace brelix
