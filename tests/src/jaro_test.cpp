// Jaro similarity against values worked out by hand from its definition:
// (m/|a| + m/|b| + (m - t)/m) / 3, with the match window
// max(|a|, |b|) / 2 - 1.

#include <gtest/gtest.h>

#include <string>

#include "src/jaro.h"

namespace brelix {
namespace {

struct JaroCase {
  const char* a;
  const char* b;
  double expected;
};

TEST(Jaro, MatchesHandComputedValues) {
  const JaroCase cases[] = {
      // window 1; both o match, f does not: m = 2, t = 0.
      {"foo", "boot", (2.0 / 3 + 2.0 / 4 + 1) / 3},
      // window 1; l, s, t match in order: m = 3.
      {"lst", "list", (3.0 / 3 + 3.0 / 4 + 1) / 3},
      // th and ht are crossed: m = 6, two out of order, t = 1.
      {"martha", "marhta", (1.0 + 1.0 + 5.0 / 6) / 3},
      // window 3 keeps the x of the longer text out of reach: m = 4.
      {"dixon", "dicksonx", (4.0 / 5 + 4.0 / 8 + 1) / 3},
      // One transposed pair in seven: t = 1.
      {"verison", "version", (1.0 + 1.0 + 6.0 / 7) / 3},
      {"xyz", "boot", 0.0},
      {"", "boot", 0.0},
      {"boot", "", 0.0},
      {"", "", 1.0},
      {"help", "help", 1.0},
      // Code points, not bytes: é is one of two, and differs from e.
      {"\xc3\xa9"
       "a",
       "ea", (1.0 / 2 + 1.0 / 2 + 1) / 3},
      {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9", 1.0},
  };
  for (const JaroCase& c : cases) {
    EXPECT_NEAR(jaro(c.a, c.b), c.expected, 1e-12) << c.a << " / " << c.b;
  }
}

TEST(Jaro, FooScoresAboveTheSuggestionThreshold) {
  // The number that makes --foo suggest --boot.
  EXPECT_NEAR(jaro("foo", "boot"), 0.7222, 0.0001);
}

TEST(Jaro, VeryLongTextAgainstShortNameStaysCheap) {
  const std::string long_text(1 << 20, 'o');
  // Only two o's of "boot" can match; the rest of a megabyte weighs nothing.
  EXPECT_NEAR(jaro(long_text, "boot"), (2.0 / (1 << 20) + 2.0 / 4 + 1) / 3, 1e-12);
}

}  // namespace
}  // namespace brelix
