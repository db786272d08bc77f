#pragma once
// UTF-8 in both directions, done by hand so that invalid input is handled
// exactly one way everywhere in the program.

#include <cstddef>
#include <string>
#include <string_view>

namespace unicode {

inline constexpr char32_t replacement_character = U'\uFFFD';

// True when text is well-formed UTF-8 (no surrogates, no overlong forms,
// nothing above U+10FFFF).
bool is_valid_utf8(std::string_view text);

// Decodes the code point starting at text[pos] and advances pos past it.
// An ill-formed sequence yields U+FFFD and advances past its maximal
// subpart (at least one byte), as the Unicode standard recommends.
// Requires: pos < text.size().
char32_t decode_next(std::string_view text, std::size_t& pos);

// The text with every maximal ill-formed subsequence replaced by U+FFFD.
// Valid input comes back byte for byte.
std::string decode_lossy(std::string_view text);

// Appends the UTF-8 form of c. Requires: c is a Unicode scalar value.
void append_utf8(std::string& out, char32_t c);

}  // namespace unicode
