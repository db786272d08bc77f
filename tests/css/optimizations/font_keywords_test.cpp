#include "css/optimizations/font_keywords.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace css {
namespace {

struct Case {
  std::string value;
  std::string expected;
};

template <typename Rewrite>
void expect_cases(Rewrite rewrite, const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(rewrite(c.value), c.expected) << "value: " << c.value;
}

TEST(FontKeywords, Weight) {
  expect_cases(rewrite_font_weight, {
                                        {"bold", "700"},
                                        {"normal", "400"},
                                        {"bold!important", "700!important"},
                                        {"normal !important", "400 !important"},
                                        {"bolder", "bolder"},
                                        {"lighter", "lighter"},
                                        {"Bold", "Bold"},
                                        {"600", "600"},
                                        {"bold bold", "bold bold"},
                                        {"var(--bold)", "var(--bold)"},
                                        {"!important", "!important"},
                                    });
}

TEST(FontKeywords, Shorthand) {
  expect_cases(
      rewrite_font_shorthand,
      {
          {"bold 12px Arial", "700 12px Arial"},
          {"normal 12px Arial", "400 12px Arial"},
          {"italic normal 12px Arial", "italic 400 12px Arial"},
          {"normal normal bold 12px Arial", "normal normal 700 12px Arial"},
          {"normal normal 12px Arial", "normal normal 12px Arial"},
          {"normal 600 12px Arial", "normal 600 12px Arial"},
          {"normal bolder 1em serif", "normal bolder 1em serif"},
          {"bolder 12px Arial", "bolder 12px Arial"},
          {"oblique 10deg normal 12px a", "oblique 10deg 400 12px a"},
          {"small-caps bold condensed 12px a", "small-caps 700 condensed 12px a"},
          // The line height and the families are not weights.
          {"12px/normal Arial", "12px/normal Arial"},
          {"bold 12px / normal Arial", "700 12px / normal Arial"},
          {"bold 12px /normal Arial", "700 12px /normal Arial"},
          {"bold 12px/ normal Arial", "700 12px/ normal Arial"},
          {"bold 12px Roboto-bold, normal", "700 12px Roboto-bold, normal"},
          {"bold large/1.2 \"Open Sans\",sans-serif", "700 large/1.2 Open Sans,sans-serif"},
          {"bold calc(1em + 2px)/1 a", "700 calc(1em + 2px)/1 a"},
          {"bold 12px \"Font Awesome 5 Free\"", "700 12px \"Font Awesome 5 Free\""},
          {"bold 12px Arial!important", "700 12px Arial!important"},
          {"bold 12px \"Open Sans\" !important", "700 12px Open Sans !important"},
          // No size, so no position to read the keywords from.
          {"bold", "bold"},
          {"caption", "caption"},
          {"inherit", "inherit"},
          {"bold Arial", "bold Arial"},
          {"var(--f)", "var(--f)"},
          {"\"bold\" 12px", "\"bold\" 12px"},
      });
}

TEST(FontKeywords, FamilyQuotes) {
  expect_cases(rewrite_font_family,
               {
                   {"\"Open Sans\",Arial", "Open Sans,Arial"},
                   {"\"Open Sans\", Arial", "Open Sans, Arial"},
                   {"\"Arial\"", "Arial"},
                   {"\"Font Awesome 5 Free\"", "\"Font Awesome 5 Free\""},
                   {"\"serif\"", "\"serif\""},
                   {"\"Sans-Serif\"", "\"Sans-Serif\""},
                   {"\"My serif\"", "\"My serif\""},
                   {"\"inherit\"", "\"inherit\""},
                   {"\"Default\"", "\"Default\""},
                   {"\"revert-layer\"", "\"revert-layer\""},
                   {"\"1942 Report\"", "\"1942 Report\""},
                   {"\"Open  Sans\"", "\"Open  Sans\""},
                   {"\" Open Sans\"", "\" Open Sans\""},
                   {"\"Open Sans \"", "\"Open Sans \""},
                   {"\"\"", "\"\""},
                   {"\"a\\62 c\"", "\"a\\62 c\""},
                   {"\"-\"", "\"-\""},
                   {"\"-x\"", "-x"},
                   {"\"_x1\"", "_x1"},
                   {"\"Noto Sans CJK\xE6\x97\xA5\"", "Noto Sans CJK\xE6\x97\xA5"},
                   {"\"a.b\"", "\"a.b\""},
                   {"'Open Sans'", "'Open Sans'"},
                   {"\"a, b\", c", "\"a, b\", c"},
                   {"\"a\"\"b\"", "\"a\"\"b\""},
                   {"\"Open Sans\"!important", "Open Sans!important"},
                   {"\"normal\", bold", "normal, bold"},
                   {"\"unterminated", "\"unterminated"},
               });
}

TEST(FontKeywords, PassRewritesOnlyTheThreeProperties) {
  DeclarationMap map;
  map.insert("font-style", "normal");
  map.insert("font-weight", "bold");
  map.insert("font", "normal 12px \"Open Sans\"");
  map.insert("font-family", "\"Open Sans\",Arial");
  map.insert("font-variant", "normal");
  map.insert("Font-Weight", "bold");
  map.insert("content", "\"bold\"");
  Arena arena;
  rewrite_font_keywords(map, arena);

  DeclarationMap expected;
  expected.insert("font-style", "normal");
  expected.insert("font-weight", "700");
  expected.insert("font", "400 12px Open Sans");
  expected.insert("font-family", "Open Sans,Arial");
  expected.insert("font-variant", "normal");
  expected.insert("Font-Weight", "bold");
  expected.insert("content", "\"bold\"");
  EXPECT_EQ(map, expected);
}

}  // namespace
}  // namespace css
