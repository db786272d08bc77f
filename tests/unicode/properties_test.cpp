#include "unicode/properties.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace {

struct PropertyCase {
  char32_t c;
  bool white_space;
  bool alphabetic;
  bool numeric;
};

// From the character database: PropList.txt, DerivedCoreProperties.txt and
// the general categories of UnicodeData.txt.
const PropertyCase property_cases[] = {
    {U'a', false, true, false},
    {U'Z', false, true, false},
    {U'0', false, false, true},
    {U'9', false, false, true},
    {U'_', false, false, false},
    {U'-', false, false, false},
    {U'@', false, false, false},
    {U'[', false, false, false},
    {U'`', false, false, false},
    {U'{', false, false, false},
    {U'\0', false, false, false},
    {U' ', true, false, false},
    {U'\u00AA', false, true, false},   // FEMININE ORDINAL INDICATOR, Lo
    {U'\u00B2', false, false, true},   // SUPERSCRIPT TWO, No
    {U'\u00BD', false, false, true},   // VULGAR FRACTION ONE HALF, No
    {U'\u00D7', false, false, false},  // MULTIPLICATION SIGN
    {U'\u00E9', false, true, false},
    {U'\u0300', false, false, false},     // COMBINING GRAVE ACCENT, Mn, not Other_Alphabetic
    {U'\u0345', false, true, false},      // COMBINING GREEK YPOGEGRAMMENI, Other_Alphabetic
    {U'\u0661', false, false, true},      // ARABIC-INDIC DIGIT ONE, Nd
    {U'\u2160', false, true, true},       // ROMAN NUMERAL ONE, Nl
    {U'\u2167', false, true, true},       // ROMAN NUMERAL EIGHT, Nl
    {U'\u3007', false, true, true},       // IDEOGRAPHIC NUMBER ZERO, Nl
    {U'\u4E00', false, true, false},      // inside a First/Last block
    {U'\u9FFF', false, true, false},      // last of that block
    {U'\uFF10', false, false, true},      // FULLWIDTH DIGIT ZERO
    {U'\U0001D7CE', false, false, true},  // MATHEMATICAL BOLD DIGIT ZERO
    {U'\U0001F600', false, false, false},
    {U'\U00020000', false, true, false},
    {U'\U0010FFFF', false, false, false},
};

TEST(Properties, KnownCodePoints) {
  for (const auto& c : property_cases) {
    SCOPED_TRACE(testing::Message() << "U+" << std::hex << static_cast<unsigned long>(c.c));
    EXPECT_EQ(unicode::is_white_space(c.c), c.white_space);
    EXPECT_EQ(unicode::is_alphabetic(c.c), c.alphabetic);
    EXPECT_EQ(unicode::is_numeric(c.c), c.numeric);
    EXPECT_EQ(unicode::is_alphanumeric(c.c), c.alphabetic || c.numeric);
  }
}

TEST(Properties, WhiteSpaceIsExactlyTheListedCharacters) {
  const char32_t white_space[] = {0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085,
                                  0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                  0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                  0x2029, 0x202F, 0x205F, 0x3000};
  std::size_t found = 0;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    const bool listed =
        std::find(std::begin(white_space), std::end(white_space), c) != std::end(white_space);
    ASSERT_EQ(unicode::is_white_space(c), listed) << std::hex << static_cast<unsigned long>(c);
    found += listed;
  }
  EXPECT_EQ(found, std::size(white_space));
  // Look-alikes that are not White_Space: zero width space, Mongolian
  // vowel separator, byte order mark, the information separators.
  for (char32_t c : {U'\u200B', U'\u180E', U'\uFEFF', U'\x1C', U'\x1F', U'\x08', U'\x0E'}) {
    EXPECT_FALSE(unicode::is_white_space(c)) << std::hex << static_cast<unsigned long>(c);
  }
}

}  // namespace
