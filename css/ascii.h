#pragma once
// The byte-level helpers every part of the CSS code shares: ASCII letter
// case, CSS white space and the extent of a quoted string. Letter case in
// CSS keywords, property names and at-rule names is ASCII only; bytes from
// 0x80 up are never folded here.

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace css {

inline bool is_ascii_digit(char c) {
  return c >= '0' && c <= '9';
}

inline char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The text with ASCII letters lowered.
inline std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ascii_lower(c);
  return out;
}

// Whether text, with ASCII letters lowered, is `lower` (which must be in
// lower case already, as every keyword this code compares with is).
inline bool equals_ascii_lower(std::string_view text, std::string_view lower) {
  return std::ranges::equal(text, lower, [](char c, char l) { return ascii_lower(c) == l; });
}

// CSS white space: form feed is one, unlike in the parser's gap.
inline bool is_css_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Past the quoted string whose quote is at open, honouring backslash
// escapes; an unterminated string runs to the end of the text, as the
// parser reads it.
inline std::size_t quoted_end(std::string_view text, std::size_t open) {
  const char quote = text[open];
  std::size_t pos = open + 1;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == quote) return pos + 1;
    pos += c == '\\' ? 2 : 1;
  }
  return text.size();
}

}  // namespace css
