#include "css/optimizations/value_scan.h"

#include <array>

namespace css {

namespace {

constexpr std::array<std::string_view, 5> guarded_functions{"calc", "min", "max", "clamp", "var"};

}  // namespace

bool is_guarded_function(std::string_view name) {
  // "-webkit-calc": skip the vendor part; "--x" is a custom name, not one.
  if (name.size() > 1 && name[0] == '-' && name[1] != '-') {
    const std::size_t dash = name.find('-', 1);
    if (dash == std::string_view::npos) return false;
    name.remove_prefix(dash + 1);
  }
  for (std::string_view function : guarded_functions) {
    if (equals_ascii_lower(name, function)) return true;
  }
  return false;
}

}  // namespace css
