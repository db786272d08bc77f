#include "css/optimizations/minifier.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "css/optimizations/lowercase_name.h"
#include "css/optimizations/walk.h"
#include "css/writer.h"

namespace css {
namespace {

struct Case {
  std::string input;
  std::string output;
};

// Every case also goes through the entry that releases its input, which
// must give the same result, leave the input empty when it succeeds and
// untouched when it fails (its error refers to it).
std::string minify(const std::string& input) {
  const auto result = CssMinifier().minify_css(input);
  std::string owned = input;
  const auto released = CssMinifier().minify_css_releasing_input(owned);
  EXPECT_EQ(released.has_value(), result.has_value()) << "input: " << input;
  if (!result) {
    EXPECT_EQ(owned, input);
    if (!released) {
      EXPECT_EQ(released.error().debug(), result.error().debug());
    }
    return result.error().message();
  }
  EXPECT_TRUE(owned.empty()) << "input: " << input;
  if (released) {
    EXPECT_EQ(*released, *result);
  }
  return *result;
}

void expect_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(minify(c.input), c.output) << "input: " << c.input;
}

TEST(Minifier, RewritesDeclarations) {
  expect_cases({
      {"", ""},
      {" /* only a comment */ \n", ""},
      {"a { COLOR: #FFFFFF; Margin: 0px 0px; font-weight: bold }",
       "a{color:#fff;margin:0 0;font-weight:700}"},
      {"a{margin-top:0;margin-right:0;margin-bottom:0;margin-left:0}",
       "a{margin-top:0;margin-right:0;margin-bottom:0;margin-left:0}"},
      {"a{x:y}a{x:y}", "a{x:y}a{x:y}"},
      {"b, a { color : rgb(255, 0, 0) !important }", "a,b{color:#f00!important}"},
      {"a{font-family:\"Open Sans\", Arial}", "a{font-family:Open Sans,Arial}"},
      {"a{FONT:bold 12px/normal \"Font Awesome 5 Free\"}",
       "a{font:700 12px/normal \"Font Awesome 5 Free\"}"},
      {"a{font-style:normal}", "a{font-style:normal}"},
      {"a{content:\"a, b\" ; x:\"0.5 !important\"}", "a{content:\"a, b\";x:\"0.5 !important\"}"},
      {"a{width:calc(100% - 0px);--Gap:0px;flex:1 1 0px}",
       "a{width:calc(100% - 0px);--Gap:0px;flex:1 1 0px}"},
      {"a{padding:var(--x, 0px) 0px}", "a{padding:var(--x,0px) 0}"},
      {"a{\xCE\xA3\xCE\xA3:x}", "a{\xCF\x83\xCF\x82:x}"},
      {"@charset \"UTF-8\";@import url(A.css) SCREEN;",
       "@charset \"UTF-8\";@import url(A.css) SCREEN;"},
      // A browser ends each string at the line break; up to the next one
      // outside a string the text is kept as written.
      {"a{content:\"x\ny\";color:red}\nb{color:blue}.c{color:#FFFFFF}",
       "a{content:\"x\ny\";color:red}\nb{color:blue}.c{color:#fff}"},
  });
}

// Names are compared after lower-casing and values after rewriting; only
// an exact repeat goes, and the later one keeps its place.
TEST(Minifier, RebuiltBlocksDropOnlyExactRepeats) {
  expect_cases({
      {"a{COLOR:red;color:red}", "a{color:red}"},
      {"a{COLOR:red;color:blue}", "a{color:red;color:blue}"},
      {"a{color:#FFFFFF;x:y;color:#fff}", "a{x:y;color:#fff}"},
      {"a{margin:0px;margin-left:5px;margin:0}", "a{margin-left:5px;margin:0}"},
      {"a{height:100%;height:calc(100% + 60px);height:-moz-calc(100%)}",
       "a{height:100%;height:calc(100% + 60px);height:-moz-calc(100%)}"},
      {"a{--A:1;--a:1}", "a{--A:1;--a:1}"},
  });
}

TEST(Minifier, EveryKindOfBlock) {
  expect_cases({
      {"@supports (display:grid) { @media screen { @keyframes k { 50% { COLOR: #FFFFFF } } } }",
       "@supports (display:grid){@media screen{@keyframes k{50%{color:#fff}}}}"},
      {"@media (MAX-WIDTH: 0PX) { a { X: 0px } }", "@media (MAX-WIDTH: 0PX){a{x:0}}"},
      {"@page :FIRST { MARGIN: 0px }", "@page :FIRST {margin:0}"},
      {"@font-face { FONT-FAMILY: \"Open Sans\"; font-weight: normal }",
       "@font-face {font-family:Open Sans;font-weight:400}"},
      {"@viewport { WIDTH: 0px }", "@viewport {width:0}"},
      {"@-ms-viewport { WIDTH: 0px }", "@-ms-viewport {width:0}"},
      {"@-webkit-keyframes s { FROM { A: 0px } TO { A: 0.5px } }",
       "@-webkit-keyframes s{FROM{a:0}TO{a:.5px}}"},
  });
}

// Each sheet has an item that the fixed grammar takes but the modern one
// reads otherwise, then one that only the modern grammar takes: the sheet
// is read as modern CSS from its start.
TEST(Minifier, AnItemTheGrammarsReadOtherwiseIsReadAgain) {
  expect_cases({
      {"@mediax{a{b:c}}a{b{c:d}}", "@mediax{a{b:c}}a{b{c:d}}"},
      {"@media x{a;b{c:d}}\na{b{c:d}}", "Invalid block at line 2"},
      {"a{b{c:d}}", "a{b{c:d}}"},
      {"a{b:c{}}", "a{b:c{}}"},
  });
}

// The input before a reported offset is never read again, so the offsets
// stay behind an item that may be read again.
TEST(Minifier, ToldHowFarTheInputIsDone) {
  const std::vector<std::pair<std::string, std::vector<std::size_t>>> cases{
      {"a{b:c} b{c:d}", {6, 13}},
      {"@mediax{a{b:c}}a{b:c}", {0, 0}},
      {"@mediax{a{b:c}}a{b{c:d}}", {0, 15, 24}},
  };
  for (const auto& [input, expected] : cases) {
    std::vector<std::size_t> told;
    const auto result =
        CssMinifier().minify_css(input, [&](std::size_t offset) { told.push_back(offset); });
    EXPECT_TRUE(result.has_value()) << input;
    EXPECT_EQ(told, expected) << input;
  }
}

// A quick look may only skip what the rewrite would leave as it is.
TEST(Minifier, NoQuickLookSkipsARewrite) {
  const std::vector<std::string> texts{"#FFFFFF",
                                       "rgb(255,0,0)",
                                       " rgb(1,2,3)",
                                       "/**/rgb(1,2,3)",
                                       "0px",
                                       "0.5em",
                                       "a, b",
                                       "1px 0px",
                                       "x !important",
                                       "red",
                                       "Color",
                                       "COLOR",
                                       "--Main",
                                       "\xC3\x84"
                                       "b",
                                       "auto",
                                       "",
                                       "block"};
  std::size_t skipped = 0;
  for (const Transformer& transformer : default_transformers()) {
    for (const std::string& text : texts) {
      if (!transformer.leaves_as_is(text)) continue;
      ++skipped;
      EXPECT_EQ(transformer.apply(text, "color"), text) << text;
    }
  }
  EXPECT_GT(skipped, texts.size());
}

TEST(Minifier, FailureLine) {
  const struct {
    std::string input;
    std::size_t offset;
    std::size_t line;
  } cases[] = {
      {"}", 0, 1},
      {"a{x:y} }", 7, 1},
      {"a{x:y}\r\n\r\n}", 10, 3},
      {"a{x:y}\nb{x:y}\n    }", 18, 3},
      {"a{x:y}\nb{\n", 7, 2},
      {"a{x:y}\n/* open", 7, 2},
  };
  for (const auto& c : cases) {
    const auto result = CssMinifier().minify_css(c.input);
    ASSERT_FALSE(result) << c.input;
    EXPECT_EQ(result.error().offset(), c.offset) << c.input;
    EXPECT_EQ(result.error().line(), c.line) << c.input;
    EXPECT_EQ(result.error().message(), "Invalid block at line " + std::to_string(c.line))
        << c.input;
  }
}

TEST(Minifier, DebugForm) {
  const std::string input = "a{x:y}\n\"\\\r\t\x01\x7f\xC3\xA9'}";
  const auto result = CssMinifier().minify_css(input);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().debug(),
            "MError { message: \"Invalid block at line 2\", error: "
            "\"a{x:y}\\n\\\"\\\\\\r\\t\\u{01}\\u{7f}\xC3\xA9'}\" }");
  EXPECT_EQ(quoted_debug_text(std::string("\0\x1b", 2)), "\"\\0\\u{1b}\"");
}

TEST(Minifier, FailureWithoutPosition) {
  const MError error(std::nullopt, "a{");
  EXPECT_EQ(error.message(), "Invalid css");
  EXPECT_EQ(error.line(), std::nullopt);
  EXPECT_EQ(error.debug(), "MError { message: \"Invalid css\", error: \"a{\" }");
}

TEST(Minifier, CustomTransformerList) {
  std::vector<Transformer> list;
  list.push_back({TransformTarget::value, [](std::string value, std::string_view property) {
                    return value + "/" + std::string(property);
                  }});
  list.push_back({TransformTarget::name,
                  [](std::string name, std::string_view) { return lowercase_name(name); }});
  list.push_back({TransformTarget::value, [](std::string value, std::string_view property) {
                    return value + "/" + std::string(property);
                  }});
  const auto result = CssMinifier(std::move(list)).minify_css("a{X:1}");
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, "a{x:1/X/x}");
}

TEST(Walk, VisitsEveryMapInOrder) {
  auto parsed = parse_stylesheet(
      "a{n:1}@media m{b{n:2}@supports s{@page{n:3}}}@font-face{n:4}@viewport{n:5}@-ms-viewport{n:6}"
      "@keyframes k{from{n:7}to{n:8}}@import x;c{n:9}");
  ASSERT_TRUE(parsed);
  Stylesheet sheet = std::move(*parsed);
  std::string seen;
  walk_declaration_maps(sheet.items, [&](DeclarationMap& map) {
    for (Declaration& declaration : map) {
      seen += declaration.value;
      declaration.value = sheet.arena.store(std::string(declaration.value) + "!");
    }
  });
  EXPECT_EQ(seen, "123456789");
  EXPECT_EQ(write_stylesheet(sheet),
            "a{n:1!}@media m{b{n:2!}@supports s{@page {n:3!}}}@font-face {n:4!}@viewport {n:5!}"
            "@-ms-viewport {n:6!}@keyframes k{from{n:7!}to{n:8!}}@import x;c{n:9!}");
}

TEST(Walk, DeeperThanTheParserAllows) {
  std::vector<Item> items;
  StyleRule rule;
  rule.declarations.insert("n", "1");
  items.push_back(rule);
  for (int depth = 0; depth < 100000; ++depth) {
    MediaRule media;
    media.items = std::move(items);
    items.clear();
    items.push_back(std::move(media));
  }
  int maps = 0;
  walk_declaration_maps(items, [&](DeclarationMap&) { ++maps; });
  EXPECT_EQ(maps, 1);
  // Unwind by hand: the destructors of a model this deep would recurse.
  while (!items.empty()) {
    auto* media = std::get_if<MediaRule>(&items.front());
    if (media == nullptr) break;
    std::vector<Item> inner = std::move(media->items);
    items = std::move(inner);
  }
}

}  // namespace
}  // namespace css
