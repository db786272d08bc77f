#include "unicode/case.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

struct LowerCase {
  std::string_view name;
  std::string_view text;
  std::string_view expected;
};

const LowerCase mapping_cases[] = {
    {"empty", "", ""},
    {"ascii", "Hello, WORLD 09_-[]@`{}", "hello, world 09_-[]@`{}"},
    {"latin-1", "\u00C9T\u00C9 \u00DE\u00D7", "\u00E9t\u00E9 \u00FE\u00D7"},
    {"already lower", "\u00E9\u00DF\u0101", "\u00E9\u00DF\u0101"},
    // Latin Extended-A alternates capital and small: only the capitals move.
    {"alternating block", "\u0100\u0101\u0102\u0103\u012E", "\u0101\u0101\u0103\u0103\u012F"},
    {"capital I with dot", "\u0130", "i\u0307"},
    {"capital I with dot inside", "A\u0130B", "ai\u0307b"},
    {"capital sharp s", "\u1E9E", "\u00DF"},
    {"title case digraph", "\u01C4\u01C5\u01C6", "\u01C6\u01C6\u01C6"},
    {"ohm and kelvin", "\u2126\u212A\u212B", "\u03C9k\u00E5"},
    {"cyrillic", "\u041F\u0420\u0418\u0412\u0415\u0422", "\u043F\u0440\u0438\u0432\u0435\u0442"},
    {"roman numeral", "\u2167", "\u2177"},
    {"fullwidth", "\uFF21\uFF3A", "\uFF41\uFF5A"},
    {"deseret", "\U00010400", "\U00010428"},
    {"no lower case", "\u4E00\u0661\U0001F600", "\u4E00\u0661\U0001F600"},
    {"real replacement character", "\uFFFDA", "\uFFFDa"},
    {"ill-formed lead", "A\xC3(B", "a\xC3(b"},
    {"surrogate bytes", "\xED\xA0\x80Z", "\xED\xA0\x80z"},
    {"overlong", "\xC0\xC1\xE0\x80\xAFQ", "\xC0\xC1\xE0\x80\xAFq"},
    {"truncated at end", "\xC3\x89\xE1\x80", "\u00E9\xE1\x80"},
    {"lone continuations", "\x80\xBF", "\x80\xBF"},
};

TEST(ToLower, Mappings) {
  for (const auto& c : mapping_cases) {
    SCOPED_TRACE(std::string(c.name));
    EXPECT_EQ(unicode::to_lower(c.text), std::string(c.expected));
  }
}

// Capital sigma becomes final U+03C2 when a cased letter comes before it,
// past case-ignorable characters, and none comes after it, past
// case-ignorable characters; otherwise U+03C3. The apostrophe, full stop
// and colon are case-ignorable; space and digits are not; U+0301 is
// case-ignorable only, U+0345 both cased and case-ignorable.
const LowerCase sigma_cases[] = {
    {"word", "\u03A3\u0391\u03A3", "\u03C3\u03B1\u03C2"},
    {"alone", "\u03A3", "\u03C3"},
    {"before full stop", "\u0391\u03A3.", "\u03B1\u03C2."},
    {"apostrophe then letter", "\u0391\u03A3'\u0391", "\u03B1\u03C3'\u03B1"},
    {"apostrophe then end", "\u0391\u03A3'", "\u03B1\u03C2'"},
    {"apostrophe before", "\u0391'\u03A3", "\u03B1'\u03C2"},
    {"only ignorable before", "'\u03A3", "'\u03C3"},
    {"space after", "\u0391\u03A3 \u0391", "\u03B1\u03C2 \u03B1"},
    {"space before", "\u0391 \u03A3", "\u03B1 \u03C3"},
    {"ascii letter before", "a\u03A3", "a\u03C2"},
    {"ascii letter after", "\u0391\u03A3a", "\u03B1\u03C3a"},
    {"ascii ignorable before", "a.\u03A3", "a.\u03C2"},
    {"colon then letter", "\u0391\u03A3:b", "\u03B1\u03C3:b"},
    {"digit after", "\u0391\u03A31", "\u03B1\u03C21"},
    {"digit before", "1\u03A3", "1\u03C3"},
    {"two sigmas", "\u0391\u03A3\u03A3", "\u03B1\u03C3\u03C2"},
    {"combining mark then end", "\u0391\u03A3\u0301", "\u03B1\u03C2\u0301"},
    {"combining mark then letter", "\u0391\u03A3\u0301\u0391", "\u03B1\u03C3\u0301\u03B1"},
    {"cased and ignorable after", "\u0391\u03A3\u0345", "\u03B1\u03C3\u0345"},
    {"cased and ignorable before", "\u0345\u03A3", "\u0345\u03C2"},
    {"small sigma before", "\u03C3\u03A3", "\u03C3\u03C2"},
    {"ill-formed after", "\u0391\u03A3\xFF\u0391", "\u03B1\u03C2\xFF\u03B1"},
    {"ill-formed before", "\u0391\xFF\u03A3", "\u03B1\xFF\u03C3"},
    {"long ignorable run after", "\u0391\u03A3''''''''''''''''''''x",
     "\u03B1\u03C3''''''''''''''''''''x"},
    {"long ignorable run before", "x''''''''''''''''''''\u03A3", "x''''''''''''''''''''\u03C2"},
};

TEST(ToLower, FinalSigma) {
  for (const auto& c : sigma_cases) {
    SCOPED_TRACE(std::string(c.name));
    EXPECT_EQ(unicode::to_lower(c.text), std::string(c.expected));
  }
}

}  // namespace
