#include "css/optimizations/lowercase_name.h"

#include <algorithm>
#include <string_view>

#include "unicode/case.h"

namespace css {

bool name_left_as_is(std::string_view name) {
  if (name.starts_with("--")) return true;
  return std::ranges::none_of(
      name, [](char c) { return (c >= 'A' && c <= 'Z') || static_cast<unsigned char>(c) >= 0x80; });
}

std::string lowercase_name(std::string name) {
  if (std::string_view(name).starts_with("--")) return name;
  bool ascii = true;
  for (char& c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  // Nearly every name is ASCII and is done in place above; the rest needs
  // the full mapping, whose final-sigma rule looks at the whole name. The
  // ASCII letters already lowered map to themselves.
  if (ascii) return name;
  return unicode::to_lower(name);
}

}  // namespace css
