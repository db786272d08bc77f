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

namespace detail {
char32_t decode_next_non_ascii(std::string_view text, std::size_t& pos);
void append_utf8_non_ascii(std::string& out, char32_t c);
}  // namespace detail

// Decodes the code point starting at text[pos] and advances pos past it.
// An ill-formed sequence yields U+FFFD and advances past its maximal
// subpart (at least one byte), as the Unicode standard recommends: the
// lead byte and as many of the bytes after it as could still begin a
// well-formed sequence. A real U+FFFD in the text decodes the same way;
// compare pos to tell them apart if it matters.
// Requires: pos < text.size().
inline char32_t decode_next(std::string_view text, std::size_t& pos) {
  // Inline so that callers walking mostly-ASCII text pay one compare per
  // character and no call.
  const auto byte = static_cast<unsigned char>(text[pos]);
  if (byte < 0x80) {
    ++pos;
    return byte;
  }
  return detail::decode_next_non_ascii(text, pos);
}

// The number of ASCII bytes (below 0x80) starting at text[pos], so that a
// scanner can take a plain run in one step. Requires: pos <= text.size().
std::size_t ascii_run_length(std::string_view text, std::size_t pos);

// The text with every maximal ill-formed subsequence replaced by U+FFFD.
// Valid input comes back byte for byte.
std::string decode_lossy(std::string_view text);
// The same for text the caller gives up: valid input is moved, not copied,
// so a large style sheet is not held twice.
std::string decode_lossy(std::string&& text);

// The text without the UTF-8 byte order mark it may begin with: editors
// that save one put it there, and in the middle of joined texts it would be
// part of whatever follows it.
inline std::string_view without_byte_order_mark(std::string_view text) {
  return text.starts_with("\xEF\xBB\xBF") ? text.substr(3) : text;
}

// Appends the UTF-8 form of c. Requires: c is a Unicode scalar value.
inline void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
    return;
  }
  detail::append_utf8_non_ascii(out, c);
}

}  // namespace unicode
