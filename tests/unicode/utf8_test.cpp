#include "unicode/utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

using unicode::decode_lossy;
using unicode::decode_next;
using unicode::is_valid_utf8;

std::u32string decode_all(std::string_view text) {
  std::u32string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t before = pos;
    out.push_back(decode_next(text, pos));
    EXPECT_GT(pos, before);
    EXPECT_LE(pos, text.size());
  }
  return out;
}

struct DecodeCase {
  std::string_view name;
  std::string_view bytes;
  std::u32string_view expected;
};

constexpr char32_t R = U'\uFFFD';

// Expected values follow the Unicode standard's "maximal subpart" practice
// (the U+FFFD substitution examples of chapter 3).
const DecodeCase decode_cases[] = {
    {"empty", "", U""},
    {"ascii", "az09 ~\x7F", U"az09 ~\x7F"},
    {"nul", std::string_view("\0a", 2), std::u32string_view(U"\0a", 2)},
    {"two byte", "\xC3\xA9", U"\u00E9"},
    {"lowest two byte", "\xC2\x80", U"\u0080"},
    {"highest two byte", "\xDF\xBF", U"\u07FF"},
    {"lowest three byte", "\xE0\xA0\x80", U"\u0800"},
    {"last before surrogates", "\xED\x9F\xBF", U"\uD7FF"},
    {"first after surrogates", "\xEE\x80\x80", U"\uE000"},
    {"highest three byte", "\xEF\xBF\xBF", U"\uFFFF"},
    {"lowest four byte", "\xF0\x90\x80\x80", U"\U00010000"},
    {"highest scalar", "\xF4\x8F\xBF\xBF", U"\U0010FFFF"},
    {"real replacement character", "\xEF\xBF\xBD", U"\uFFFD"},
    {"mixed", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z", U"a\u00E9\u20AC\U0001F600z"},

    {"lone continuation", "\x80", {&R, 1}},
    {"continuation run", "\x80\xBF\x80", U"\uFFFD\uFFFD\uFFFD"},
    {"continuation between ascii", "a\x9Fz", U"a\uFFFDz"},
    {"C0 overlong", "\xC0\xAF", U"\uFFFD\uFFFD"},
    {"C1 overlong", "\xC1\xBF", U"\uFFFD\uFFFD"},
    {"E0 overlong", "\xE0\x80\xAF", U"\uFFFD\uFFFD\uFFFD"},
    {"E0 overlong high", "\xE0\x9F\xBF", U"\uFFFD\uFFFD\uFFFD"},
    {"F0 overlong", "\xF0\x80\x80", U"\uFFFD\uFFFD\uFFFD"},
    {"F0 overlong four", "\xF0\x8F\xBF\xBF", U"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"high surrogate", "\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"},
    {"low surrogate", "\xED\xBF\xBF", U"\uFFFD\uFFFD\uFFFD"},
    {"surrogate pair", "\xED\xA0\xBD\xED\xB8\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"above max", "\xF4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"F5 lead", "\xF5\x80\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"FF and FE", "\xFF\xFE", U"\uFFFD\uFFFD"},
    {"old five byte form", "\xF8\x88\x80\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},

    {"truncated two at end", "\xC3", {&R, 1}},
    {"truncated three after one", "\xE1", {&R, 1}},
    {"truncated three after two", "\xE1\x80", {&R, 1}},
    {"truncated four after three", "\xF0\x9F\x98", {&R, 1}},
    {"truncated four after two", "\xF1\x80", {&R, 1}},
    {"truncated then ascii", "\xE2\x82z", U"\uFFFDz"},
    {"truncated then lead", "\xF0\x9F\xC3\xA9", U"\uFFFD\u00E9"},
    {"lead then lead", "\xC3\xC3\xA9", U"\uFFFD\u00E9"},
    {"E0 then bad second", "\xE0\x41", U"\uFFFDA"},
    {"F4 truncated valid prefix", "\xF4\x8F\xBF", {&R, 1}},
    // The example sequence from the standard's own table of substitutions.
    {"standard example", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
     U"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
};

TEST(Utf8Decode, Cases) {
  for (const auto& c : decode_cases) {
    SCOPED_TRACE(std::string(c.name));
    EXPECT_EQ(decode_all(c.bytes), std::u32string(c.expected));
    const bool has_replacement =
        std::u32string_view(c.expected).find(R) != std::u32string_view::npos;
    const bool real_replacement = c.bytes.find("\xEF\xBF\xBD") != std::string_view::npos;
    EXPECT_EQ(is_valid_utf8(c.bytes), !has_replacement || real_replacement);

    std::string lossy;
    for (char32_t cp : c.expected) unicode::append_utf8(lossy, cp);
    EXPECT_EQ(decode_lossy(c.bytes), lossy);
    // The overload that takes the text over must decode alike.
    EXPECT_EQ(decode_lossy(std::string(c.bytes)), lossy);
  }
}

// Invalid bytes placed after long ASCII runs and at word boundaries, where a
// word-at-a-time scan could skip them.
TEST(Utf8Decode, InvalidBytesAtEveryOffsetOfAsciiRuns) {
  for (std::size_t length = 0; length < 40; ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      const std::string before(at, 'x');
      const std::string after(length - at, 'x');
      const std::string text = before + "\xFF" + after;
      SCOPED_TRACE(testing::Message() << "length " << length << " at " << at);
      EXPECT_FALSE(is_valid_utf8(text));
      const std::string expected = before + "\xEF\xBF\xBD" + after;
      EXPECT_EQ(decode_lossy(text), expected);
      EXPECT_EQ(unicode::ascii_run_length(text, 0), at);
    }
  }
}

TEST(Utf8Decode, AsciiRunLength) {
  const std::string text = "abcdefghij\xC3\xA9klmnopqrstuvwxyz";
  EXPECT_EQ(unicode::ascii_run_length(text, 0), 10u);
  EXPECT_EQ(unicode::ascii_run_length(text, 10), 0u);
  EXPECT_EQ(unicode::ascii_run_length(text, 12), 16u);
  EXPECT_EQ(unicode::ascii_run_length(text, text.size()), 0u);
}

TEST(Utf8Encode, EveryScalarValueRoundTrips) {
  std::string text;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    text.clear();
    unicode::append_utf8(text, c);
    const std::size_t expected_length = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    ASSERT_EQ(text.size(), expected_length) << std::hex << static_cast<unsigned long>(c);
    std::size_t pos = 0;
    ASSERT_EQ(decode_next(text, pos), c);
    ASSERT_EQ(pos, text.size());
    ASSERT_TRUE(is_valid_utf8(text));
  }
}

// A second, slow decoder built straight from the definition: a sequence is
// well-formed when it is the encoding of a scalar value, and the maximal
// subpart at a position is the longest prefix of some well-formed sequence
// found there. Its encodings come from arithmetic, not from append_utf8.
class ReferenceDecoder {
 public:
  ReferenceDecoder() {
    // UTF-8 keeps code point order, so the keys come out sorted.
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
      if (c >= 0xD800 && c <= 0xDFFF) continue;
      const std::string encoded = encode(c);
      complete_.push_back(key(encoded));
      for (std::size_t k = 1; k < encoded.size(); ++k)
        prefixes_.push_back(key(encoded.substr(0, k)));
    }
    std::sort(prefixes_.begin(), prefixes_.end());
    prefixes_.erase(std::unique(prefixes_.begin(), prefixes_.end()), prefixes_.end());
  }

  std::u32string decode(std::string_view text) const {
    std::u32string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
      bool done = false;
      for (std::size_t k = 4; k >= 1 && !done; --k) {
        if (pos + k > text.size()) continue;
        const std::string_view piece = text.substr(pos, k);
        if (std::binary_search(complete_.begin(), complete_.end(), key(piece))) {
          out.push_back(value(piece));
          pos += k;
          done = true;
        }
      }
      if (done) continue;
      std::size_t skip = 1;
      for (std::size_t k = 3; k >= 1; --k) {
        if (pos + k <= text.size() &&
            std::binary_search(prefixes_.begin(), prefixes_.end(), key(text.substr(pos, k)))) {
          skip = k;
          break;
        }
      }
      out.push_back(R);
      pos += skip;
    }
    return out;
  }

 private:
  // Length first, then the bytes big-endian.
  static std::uint64_t key(std::string_view s) {
    std::uint64_t k = s.size();
    for (char ch : s) k = (k << 8) | static_cast<unsigned char>(ch);
    return k << (8 * (4 - s.size()));
  }

  static std::string encode(char32_t c) {
    std::string s;
    if (c < 0x80) {
      s += static_cast<char>(c);
    } else {
      int length = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
      const unsigned markers[] = {0, 0, 0xC0, 0xE0, 0xF0};
      s.resize(static_cast<std::size_t>(length));
      for (int i = length - 1; i > 0; --i) {
        s[static_cast<std::size_t>(i)] = static_cast<char>(0x80 | (c % 64));
        c /= 64;
      }
      s[0] = static_cast<char>(markers[length] | c);
    }
    return s;
  }

  static char32_t value(std::string_view s) {
    if (s.size() == 1) return static_cast<unsigned char>(s[0]);
    const unsigned payload_bits[] = {0, 0, 0x1F, 0x0F, 0x07};
    char32_t c = static_cast<unsigned char>(s[0]) & payload_bits[s.size()];
    for (std::size_t i = 1; i < s.size(); ++i)
      c = c * 64 + (static_cast<unsigned char>(s[i]) & 0x3F);
    return c;
  }

  std::vector<std::uint64_t> complete_;
  std::vector<std::uint64_t> prefixes_;
};

TEST(Utf8Decode, AgreesWithDefinitionOnAllShortSequences) {
  const ReferenceDecoder reference;
  // Every boundary of the lead and continuation ranges, plus ASCII.
  const std::vector<unsigned char> interesting = {
      0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF,
      0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFF};
  auto check = [&](const std::string& text) {
    const std::u32string expected = reference.decode(text);
    ASSERT_EQ(decode_all(text), expected) << testing::PrintToString(text);
    ASSERT_EQ(is_valid_utf8(text), expected.find(R) == std::u32string::npos);
  };
  for (unsigned a = 0; a < 256; ++a) {
    check(std::string(1, static_cast<char>(a)));
    for (unsigned b = 0; b < 256; ++b) check({static_cast<char>(a), static_cast<char>(b)});
  }
  for (unsigned char a : interesting)
    for (unsigned char b : interesting)
      for (unsigned char c : interesting)
        for (unsigned char d : interesting)
          check({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c),
                 static_cast<char>(d)});
}

}  // namespace
