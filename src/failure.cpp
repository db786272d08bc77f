#include "src/failure.h"

#include <string>

namespace brelix {
namespace {

// Appends text, with every line after the first indented by indent spaces.
void append_indented(std::string& out, std::string_view text, std::size_t indent) {
  std::size_t start = 0;
  while (true) {
    const std::size_t newline = text.find('\n', start);
    out.append(text.substr(
        start, newline == std::string_view::npos ? std::string_view::npos : newline - start));
    if (newline == std::string_view::npos) {
      return;
    }
    out.push_back('\n');
    out.append(indent, ' ');
    start = newline + 1;
  }
}

}  // namespace

Failure with_action(Failure failure, std::string_view action, std::string_view path) {
  if (failure.is_fault) return failure;
  std::string cause;
  cause.reserve(action.size() + 1 + path.size());
  cause.append(action);
  cause.push_back(' ');
  cause.append(path);
  failure.causes.push_back(std::move(cause));
  return failure;
}

std::string format_failure_report(const Failure& failure) {
  std::string out = "Error: ";
  out.append(failure.message);
  if (!failure.causes.empty()) {
    out.append("\n\nCaused by:");
    const bool single = failure.causes.size() == 1;
    for (std::size_t i = 0; i < failure.causes.size(); ++i) {
      out.push_back('\n');
      if (single) {
        out.append("    ");
        append_indented(out, failure.causes[i], 4);
      } else {
        const std::string index = std::to_string(i);
        out.append(index.size() < 5 ? 5 - index.size() : 0, ' ');
        out.append(index);
        out.append(": ");
        append_indented(out, failure.causes[i], 7);
      }
    }
  }
  out.push_back('\n');
  return out;
}

}  // namespace brelix
