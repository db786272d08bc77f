#include "css/optimizations/shorten_numbers.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace css {
namespace {

struct Case {
  std::string value;
  std::string expected;
  std::string property = "margin";
};

void expect_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(shorten_numbers(c.value, c.property), c.expected)
        << "value: " << c.value << ", property: " << c.property;
  }
}

TEST(ShortenNumbers, Zeros) {
  expect_cases({
      {"0px", "0"},
      {"0px 0px", "0 0"},
      {"0px0px 1px", "0 1px"},
      {"0rem", "0"},
      {"0rem 0rem", "0 0"},
      {"0.5em", ".5em"},
      {"10px 0.5em", "10px .5em"},
      {"1px 0px 2px 0rem", "1px 0 2px 0"},
      {"0", "0"},
      {"-0.5em", "-0.5em"},
      {"1px -0px", "1px -0px"},
      {"0em 0% 0pt", "0em 0% 0pt"},
      {"1 0em", "1 0em"},
      {"10px", "10px"},
      {"100px", "100px"},
      {"1 10px", "1 10px"},
  });
}

TEST(ShortenNumbers, CommasAndImportant) {
  expect_cases({
      {"rgba(0, 0, 0, 0.5)", "rgba(0,0,0,.5)"},
      {"Arial, sans-serif", "Arial,sans-serif"},
      {"red !important", "red!important"},
      {"red  !important", "red !important"},
      {"a,  b", "a, b"},
      {"a, !important", "a,!important"},
      {"a,  !important", "a,!important"},
      {"0px !important", "0!important"},
      {"1px, 0px", "1px,0"},
      {"1, 0.5", "1,.5"},
  });
}

// The rewrites compose: each one runs over what the previous one left.
TEST(ShortenNumbers, StepsCompose) {
  expect_cases({
      {"0px0rem", "00rem"},
      {"0pxrem", "0"},
      {"0px.5", ".5"},
      {"0px0.5", "00.5"},
      {"0.0.5", ".5"},
      {"1 0pxrem", "1 0"},
      {"1 0rempx", "1 0px"},
      {"1 0pxpx", "1 0px"},
      {"1 0px.5", "1 .5"},
      {"1 0rem.5", "1 .5"},
      {"1 0pxrem.5", "1 .5"},
  });
}

TEST(ShortenNumbers, QuotedStringsUntouched) {
  expect_cases({
      {"\"a, b\"", "\"a, b\""},
      {"\"version 0.5\", 0.5", "\"version 0.5\",.5"},
      {"'x 0px' 0px", "'x 0px' 0"},
      {"\"a \\\" 0px\" 0px", "\"a \\\" 0px\" 0"},
      {"\"x !important\" !important", "\"x !important\"!important"},
      {"counter(c, \", \")", "counter(c,\", \")"},
      {"\"unterminated, 0px", "\"unterminated, 0px"},
      {"a /* b, 0px */ 0px", "a /* b, 0px */ 0"},
      {"a /* it's */ 0px", "a /* it's */ 0"},
      {"a /* open, 0px", "a /* open,0"},
  });
}

TEST(ShortenNumbers, ZeroUnitsKeptInMathAndVar) {
  expect_cases({
      {"calc(100% - 0px)", "calc(100% - 0px)"},
      {"CALC(100% - 0px)", "CALC(100% - 0px)"},
      {"-webkit-calc(100% - 0px)", "-webkit-calc(100% - 0px)"},
      {"-moz-calc(100% - 0rem)", "-moz-calc(100% - 0rem)"},
      {"min(1px, 0px)", "min(1px,0px)"},
      {"max(0px, 1px) 0px", "max(0px,1px) 0"},
      {"clamp(0px, 1vw, 0.5rem)", "clamp(0px,1vw,.5rem)"},
      {"var(--x, 0px)", "var(--x,0px)"},
      {"calc(1px + (2px - 0px)) 0px", "calc(1px + (2px - 0px)) 0"},
      {"calc(1px + foo( 0px)) 0px", "calc(1px + foo( 0px)) 0"},
      {"translate(0px, 0px) calc(1px - 0px)", "translate(0px,0) calc(1px - 0px)"},
      {"fcalc(1px 0px)", "fcalc(1px 0)"},
      {"--calc(1px 0px)", "--calc(1px 0)"},
      {"calc(1px 0px))) 0px", "calc(1px 0px))) 0"},
  });
}

TEST(ShortenNumbers, ZeroUnitsKeptByProperty) {
  expect_cases({
      {"1 1 0px", "1 1 0px", "flex"},
      {"1 1 0px", "1 1 0px", "FLEX"},
      {"1 1 0px", "1 1 0px", "-ms-flex"},
      {"0px", "0px", "flex-basis"},
      {"0px", "0px", "--gap"},
      {"0px", "0px", "initial-value"},
      {"0rem 0px, 0.5px !important", "0rem 0px,.5px!important", "--Gap"},
      {"0.5", ".5", "--x"},
      {"1 1 0px", "1 1 0", "-webkit-flex"},
      {"0px", "0", "flex-grow"},
      {"0px", "0", "-gap"},
  });
}

// The rewrites as the eight steps say, one after another, for text without
// quotes, comments or parentheses.
std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  std::size_t pos = 0;
  while (true) {
    const std::size_t found = text.find(from, pos);
    if (found == std::string_view::npos) break;
    out += text.substr(pos, found - pos);
    out += to;
    pos = found + from.size();
  }
  out += text.substr(pos);
  return out;
}

std::string strip_leading(std::string text, std::string_view unit, std::string_view put) {
  if (!text.starts_with(unit)) return text;
  std::size_t start = 0;
  while (std::string_view(text).substr(start).starts_with(unit)) start += unit.size();
  std::string out(put);
  out.append(text, start);
  return out;
}

std::string eight_steps(std::string text) {
  text = strip_leading(text, "0px", "0");
  text = strip_leading(text, "0rem", "0");
  text = strip_leading(text, "0.", ".");
  text = replace_all(text, " 0px", " 0");
  text = replace_all(text, " 0rem", " 0");
  text = replace_all(text, " 0.", " .");
  text = replace_all(text, ", ", ",");
  return replace_all(text, " !important", "!important");
}

TEST(ShortenNumbers, OneScanMatchesTheStepsInSequence) {
  constexpr std::array<std::string_view, 12> pieces{" ", "  ",         "0", "px", "rem", ".",
                                                    ",", "!important", "5", "a",  "0px", " 0"};
  std::mt19937 random(12345);
  std::uniform_int_distribution<std::size_t> piece(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(0, 12);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (int i = length(random); i > 0; --i) text += pieces[piece(random)];
    ASSERT_EQ(shorten_numbers(text), eight_steps(text)) << "value: " << text;
  }
}

TEST(ShortenNumbers, LongValuesStayLinear) {
  std::string value = "0px";
  std::string expected = "0";
  for (int i = 0; i < 200000; ++i) {
    value += " 0px";
    expected += " 0";
  }
  EXPECT_EQ(shorten_numbers(value), expected);
  std::string unclosed;
  for (int i = 0; i < 100000; ++i) unclosed += "/* 0px(";
  EXPECT_EQ(shorten_numbers(unclosed).size(), unclosed.size() - 2 * 100000);
}

}  // namespace
}  // namespace css
