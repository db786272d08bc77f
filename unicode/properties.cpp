#include "unicode/properties.h"

#include <algorithm>

#include "unicode/unicode_tables.h"

namespace unicode {

namespace tables {

bool contains(std::span<const Range> ranges, char32_t c) {
  // The first range that starts after c; the one before it is the only
  // candidate.
  const auto after =
      std::upper_bound(ranges.begin(), ranges.end(), c,
                       [](char32_t value, const Range& r) { return value < r.first; });
  return after != ranges.begin() && c <= std::prev(after)->last;
}

}  // namespace tables

// ASCII is answered without the tables: names, paths and CSS are nearly all
// ASCII, and these are asked once per character.

bool is_white_space(char32_t c) {
  if (c < 0x80) return c == ' ' || (c >= '\t' && c <= '\r');
  return tables::contains(tables::white_space, c);
}

bool is_alphabetic(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  return tables::contains(tables::alphabetic, c);
}

bool is_numeric(char32_t c) {
  if (c < 0x80) return c >= '0' && c <= '9';
  return tables::contains(tables::numeric, c);
}

}  // namespace unicode
