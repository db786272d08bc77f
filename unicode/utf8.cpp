#include "unicode/utf8.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace unicode {
namespace {

// One step of the decoder: the code point (or U+FFFD), how many bytes it
// took, and whether those bytes were a well-formed sequence.
struct Step {
  char32_t code_point;
  std::size_t length;
  bool valid;
};

// The range the second byte must fall in, by lead byte. The first
// continuation byte is the only one whose range depends on the lead: it is
// what rules out overlong forms (E0, F0), surrogates (ED) and values above
// U+10FFFF (F4). Every later continuation byte is simply 80..BF.
struct LeadInfo {
  unsigned char trailing;  // continuation bytes that follow; 0 = invalid lead
  unsigned char second_low;
  unsigned char second_high;
};

constexpr LeadInfo lead_info(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return {1, 0x80, 0xBF};
  if (lead == 0xE0) return {2, 0xA0, 0xBF};
  if (lead == 0xED) return {2, 0x80, 0x9F};
  if (lead >= 0xE1 && lead <= 0xEF) return {2, 0x80, 0xBF};
  if (lead == 0xF0) return {3, 0x90, 0xBF};
  if (lead >= 0xF1 && lead <= 0xF3) return {3, 0x80, 0xBF};
  if (lead == 0xF4) return {3, 0x80, 0x8F};
  // 80..BF are continuation bytes, C0/C1 only ever start overlong forms,
  // F5..FF would start values above U+10FFFF.
  return {0, 0, 0};
}

// Requires: p < end and *p >= 0x80.
Step step_non_ascii(const unsigned char* p, const unsigned char* end) {
  const LeadInfo info = lead_info(p[0]);
  if (info.trailing == 0) return {replacement_character, 1, false};

  const auto available = static_cast<std::size_t>(end - p);
  if (available < 2 || p[1] < info.second_low || p[1] > info.second_high) {
    return {replacement_character, 1, false};
  }
  // Mask off the length marker of the lead byte: 1 trailing byte -> 5 bits,
  // 2 -> 4 bits, 3 -> 3 bits.
  char32_t c = p[0] & (0x3Fu >> info.trailing);
  c = (c << 6) | (p[1] & 0x3Fu);
  for (std::size_t i = 2; i <= info.trailing; ++i) {
    if (i >= available || (p[i] & 0xC0u) != 0x80u) {
      return {replacement_character, i, false};
    }
    c = (c << 6) | (p[i] & 0x3Fu);
  }
  return {c, std::size_t{info.trailing} + 1, true};
}

const unsigned char* bytes(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

// Eight bytes at a time: a word with no high bit set is eight ASCII bytes.
std::size_t ascii_prefix(const unsigned char* p, std::size_t size) {
  constexpr std::uint64_t high_bits = 0x8080808080808080ull;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, sizeof word);
    if ((word & high_bits) != 0) break;
  }
  while (i < size && p[i] < 0x80) ++i;
  return i;
}

}  // namespace

namespace detail {

char32_t decode_next_non_ascii(std::string_view text, std::size_t& pos) {
  const unsigned char* start = bytes(text);
  const Step step = step_non_ascii(start + pos, start + text.size());
  pos += step.length;
  return step.code_point;
}

void append_utf8_non_ascii(std::string& out, char32_t c) {
  char buffer[4];
  std::size_t length;
  if (c < 0x800) {
    buffer[0] = static_cast<char>(0xC0 | (c >> 6));
    buffer[1] = static_cast<char>(0x80 | (c & 0x3F));
    length = 2;
  } else if (c < 0x10000) {
    buffer[0] = static_cast<char>(0xE0 | (c >> 12));
    buffer[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    buffer[2] = static_cast<char>(0x80 | (c & 0x3F));
    length = 3;
  } else {
    buffer[0] = static_cast<char>(0xF0 | (c >> 18));
    buffer[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    buffer[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    buffer[3] = static_cast<char>(0x80 | (c & 0x3F));
    length = 4;
  }
  out.append(buffer, length);
}

}  // namespace detail

std::size_t ascii_run_length(std::string_view text, std::size_t pos) {
  return ascii_prefix(bytes(text) + pos, text.size() - pos);
}

bool is_valid_utf8(std::string_view text) {
  const unsigned char* p = bytes(text);
  const unsigned char* end = p + text.size();
  while (p < end) {
    p += ascii_prefix(p, static_cast<std::size_t>(end - p));
    if (p == end) break;
    const Step step = step_non_ascii(p, end);
    if (!step.valid) return false;
    p += step.length;
  }
  return true;
}

std::string decode_lossy(std::string_view text) {
  static constexpr char replacement[] = "\xEF\xBF\xBD";
  const unsigned char* start = bytes(text);
  const unsigned char* end = start + text.size();
  std::string out;
  out.reserve(text.size());
  // Well-formed stretches are copied in one append each; only the
  // ill-formed pieces are rewritten.
  const unsigned char* copied = start;
  const unsigned char* p = start;
  while (p < end) {
    p += ascii_prefix(p, static_cast<std::size_t>(end - p));
    if (p == end) break;
    const Step step = step_non_ascii(p, end);
    if (!step.valid) {
      out.append(text.data() + (copied - start), static_cast<std::size_t>(p - copied));
      out.append(replacement, 3);
      copied = p + step.length;
    }
    p += step.length;
  }
  out.append(text.data() + (copied - start), static_cast<std::size_t>(end - copied));
  return out;
}

std::string decode_lossy(std::string&& text) {
  if (is_valid_utf8(text)) return std::move(text);
  return decode_lossy(std::string_view(text));
}

}  // namespace unicode
