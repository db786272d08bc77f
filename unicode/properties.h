#pragma once
// Character properties from the Unicode Character Database. The tables
// behind these functions are generated; see tools/gen_unicode_tables.py.

namespace unicode {

// The White_Space property.
bool is_white_space(char32_t c);
// The Alphabetic property.
bool is_alphabetic(char32_t c);
// General category Nd, Nl or No.
bool is_numeric(char32_t c);
// Alphabetic or numeric, the characters a name may be made of.
inline bool is_alphanumeric(char32_t c) {
  return is_alphabetic(c) || is_numeric(c);
}

}  // namespace unicode
