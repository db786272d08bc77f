#include "css/parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/css/model_dump.h"

namespace css {
namespace {

using testing::dump_parse;

struct Case {
  std::string input;
  std::string model;  // the dump notation of model_dump.h, or "fail@N"
};

void expect_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(dump_parse(c.input), c.model) << "input: " << c.input;
  }
}

TEST(Parser, GapsAndComments) {
  expect_cases({
      {"", ""},
      {" \t\r\n/* a */ /**/\n", ""},
      {"/* a */ a { /* b */ color : red /* c */ ; }", "style[tag<a>]{color:red /* c */}"},
      // A comment closes at the first "*/"; they do not nest.
      {"/* /* */ a{}", "style[tag<a>]{}"},
      // Inside a piece a comment is kept as written.
      {"a/* c */b{}", "style[tag<a/* c */b>]{}"},
      // An unterminated comment is ordinary text: before a rule it joins
      // the selector, at the end it is left over.
      {"/* x a{}", "style[tag</* x a>]{}"},
      {"a{x:y} /* end", "fail@7"},
      // The gap does not skip a form feed, so no at-rule literal matches.
      {"\f@font-face{x:y}", "style[tag<@font-face>]{x:y}"},
      // Alone, it is read as the white space it is in CSS.
      {"\f", ""},
      // Comments that only a trim of non-gap space lays bare go too.
      {"\f/*c*/a{\v/*c*/x:\v/* c */y}", "style[tag<a>]{x:y}"},
      {"a{x:\v/*c*/;}", "fail@0"},
      {"@media \v/*c*/{}", "fail@0"},
      // What no declaration or frame may begin with, it may not begin
      // with after the trim either.
      {"a{\v{x:y}", "fail@0"},
      {"a{\v@x:y}", "fail@0"},
      {"@keyframes k{\v@x{a:b}}", "fail@0"},
  });
}

TEST(Parser, StyleRulesAndDeclarations) {
  expect_cases({
      {"a:hover, b::after{color:red}", "style[tag<a>:<hover>,tag<b>::<after>]{color:red}"},
      {"a{color:red}", "style[tag<a>]{color:red}"},
      {"a{color:red;}", "style[tag<a>]{color:red}"},
      {"a { color : red ; margin : 0 ; }", "style[tag<a>]{color:red;margin:0}"},
      {"a{}", "style[tag<a>]{}"},
      {"a{x:y};b{x:y}", "style[tag<a>]{x:y} style[tag<;b>]{x:y}"},
      // Trimming uses Unicode white space, the gap only ASCII.
      {"a{\u3000color:\u00A0red\u2003}", "style[tag<a>]{color:red}"},
      {"a{x:1 !important}", "style[tag<a>]{x:1 !important}"},
      // Case and inner spacing are kept.
      {"A{COLOR:Red  Blue}", "style[tag<A>]{COLOR:Red  Blue}"},
  });
}

TEST(Parser, Selectors) {
  expect_cases({
      {"ul li > a:not(.x) span{}", "style[tag<ul li > a>:<not>(<.x>)_+<span>]{}"},
      {"#a .b{}", "style[#<a .b>]{}"},
      {".a,.b{}", "style[.<a>,.<b>]{}"},
      {"a,,b{}", "style[tag<a>,,tag<b>]{}"},
      {"a,{x:y}", "style[tag<a>,]{x:y}"},
      {":root{}", "style[:<root>]{}"},
      {"a:hover {x:y}", "style[tag<a>:<hover >]{x:y}"},
      {"a:foo(){}", "style[tag<a>:<foo>+<()>]{}"},
      // '#' or '.' with nothing after them is taken as a tag.
      {"#:x{}", "style[tag<#>:<x>]{}"},
      {"a[href]:first-child{}", "style[tag<a[href]>:<first-child>]{}"},
      // A comma inside parentheses splits no list, outside a pseudo-class's
      // argument too.
      {"x(a,b),c{}", "style[tag<x(a,b)>,tag<c>]{}"},
      // A third colon is not taken, so the rule does not fit.
      {"a:::x{}", "fail@0"},
      {"a:{}", "fail@0"},
  });
}

// Long selector lists and declaration blocks are stored another way than
// short ones; they must read as their pieces read one by one. A '{' or '}'
// in a string cuts the count of what follows short, and commas in an
// argument make it long; the last declaration repeats the first, and makes
// the block a whole number of the batches a long one is stored in.
TEST(Parser, LongListsAndBlocksReadAsTheirPieces) {
  const std::vector<std::string> selectors{".a", "b:is(c,d,e)", "[title=\"{\"]", "#x::before"};
  const std::vector<std::string> values{"red", "'}'", "0", "a,b"};
  const auto inner = [](const std::string& dump, std::size_t head, std::size_t tail) {
    return dump.substr(head, dump.size() - head - tail);
  };
  std::string list, block, expected_list, expected_block;
  for (std::size_t i = 0; i < 319; ++i) {
    const std::string selector = selectors[i % 4] + std::to_string(i);
    const std::string declaration = "p" + std::to_string(i) + ":" + values[i % 4];
    list += (i > 0 ? "," : "") + selector;
    block += declaration + ";";
    expected_list += (i > 0 ? "," : "") + inner(dump_parse(selector + "{}"), 6, 3);
    if (i > 0) expected_block += inner(dump_parse("a{" + declaration + "}"), 14, 1) + ";";
  }
  block += "p0:red";
  expected_block += "p0:red";
  EXPECT_EQ(dump_parse(list + "{" + block + "}"),
            "style[" + expected_list + "]{" + expected_block + "}");
  // A nested rule makes it a modern rule body, whose groups are kept
  // another way again.
  EXPECT_EQ(dump_parse(list + "{" + block + ";&:hover{x:y}}"),
            "style[" + expected_list + "]{" + expected_block + "}[style[tag<&>:<hover>]{x:y}]");
}

TEST(Parser, AtRules) {
  expect_cases({
      {"@media screen{a{x:y}@media print{b{x:y}}}",
       "media<screen>[style[tag<a>]{x:y} media<print>[style[tag<b>]{x:y}]]"},
      {"@media screen and (min-width: 1px) { }", "media<screen and (min-width: 1px)>[]"},
      {"@supports (display:grid){a{x:y}}", "supports<(display:grid)>[style[tag<a>]{x:y}]"},
      {"@page :first{margin:0}", "page<:first>{margin:0}"},
      {"@page{x:y}", "page{x:y}"},
      {"@page {x:y}", "page{x:y}"},
      {"@font-face { font-family: f }", "font-face{font-family:f}"},
      {"@viewport{width:device-width}", "viewport{width:device-width}"},
      {"@-ms-viewport{width:device-width}", "ms-viewport{width:device-width}"},
      {"@keyframes spin{from{x:0}to{x:1}}", "keyframes<spin>[from{x:0} to{x:1}]"},
      {"@-webkit-keyframes spin { from { x: 0 } 0%, 100% { x: 1 } }",
       "webkit-keyframes<spin>[from{x:0} 0%, 100%{x:1}]"},
      {"@keyframes k{}", "keyframes<k>[]"},
      {"@media x{@keyframes k{to{x:1}}@font-face{a:b}}",
       "media<x>[keyframes<k>[to{x:1}] font-face{a:b}]"},
      // Literals match as prefixes.
      {"@mediax{}", "media<x>[]"},
      {"@pagefoo{}", "page<foo>{}"},
  });
}

TEST(Parser, Statements) {
  expect_cases({
      {"@import url(a.css) screen;", "import<url(a.css)>media<screen>"},
      {"@import url(a.css);", "import<url(a.css)>"},
      {"@import url(a.css) ;", "import<url(a.css)>media<>"},
      {"@import url(a) \t\n screen and (x) ;", "import<url(a)>media<screen and (x) >"},
      {"@namespace svg url(x);", "namespace<url(x)>prefix<svg>"},
      {"@namespace url(x);", "namespace<url(x)>"},
      {"@charset \"UTF-8\";", "charset<\"UTF-8\">"},
      {"@charset  'a' ;", "charset<'a' >"},
      {"@import/* c */url(x);", "import<url(x)>"},
      {"@import a;@import b;", "import<a> import<b>"},
  });
}

TEST(Parser, FailuresReportTheTopLevelItem) {
  expect_cases({
      {"@supports {a{}}", "fail@0"},
      {"@keyframes {}", "fail@0"},
      {"@import ;", "fail@0"},
      {"@import url(x)", "fail@0"},
      {"@charset;", "fail@0"},
      {"a{color}", "fail@0"},
      {"a{:red}", "fail@0"},
      {"a{color:;}", "fail@0"},
      {"a{color: ;}", "fail@0"},
      // Trimmed to nothing is as empty as nothing.
      {"a{color:\f;}", "fail@0"},
      {"a{x:y", "fail@0"},
      {"a{x:y;", "fail@0"},
      {"{x:y}", "fail@0"},
      {"a{@x:y}", "fail@0"},
      {"@keyframes k{@from{x:0}}", "fail@0"},
      {"}", "fail@0"},
      {"a{}}", "fail@3"},
      {"a{};", "fail@3"},
      {"a{x:y}\n  b{", "fail@9"},
      {"a{}\n@media x{ b{} c{x} }", "fail@4"},
      {"a{} /* c */ @media x{ @supports y{ b{x:} } }", "fail@12"},
  });
}

// Quotes, comments and brackets protect what they hold.
TEST(Parser, ProtectedPieces) {
  expect_cases({
      {"a{content:\"x; COLOR:#FFF\"}", "style[tag<a>]{content:\"x; COLOR:#FFF\"}"},
      {"a{content:';'}", "style[tag<a>]{content:';'}"},
      {"a{content:\"\\\";}\"}", "style[tag<a>]{content:\"\\\";}\"}"},
      {"a{background:url(data:image/png;base64,xyz)}",
       "style[tag<a>]{background:url(data:image/png;base64,xyz)}"},
      {"a{x:f(g(;}) h)}", "style[tag<a>]{x:f(g(;}) h)}"},
      // A stray ')' is text and does not unbalance what follows.
      {"a{x:y);z:w}", "style[tag<a>]{x:y);z:w}"},
      {"a{x:y /* don't */}", "style[tag<a>]{x:y /* don't */}"},
      {"b[title=\"x,a\"]{}", "style[tag<b[title=\"x,a\"]>]{}"},
      {"a[data-x={]:hover,b{}", "style[tag<a[data-x={]>:<hover>,tag<b>]{}"},
      {"a:not([title=\")\"]){}", "style[tag<a>:<not>(<[title=\")\"]>)]{}"},
      {"a:is(b, c:hover){}", "style[tag<a>:<is>(<b, c:hover>)]{}"},
      {"a:not(:is(b)) c{}", "style[tag<a>:<not>(<:is(b)>)_+<c>]{}"},
      {"a:x(b:y[c,d]{}", "fail@0"},
      // An argument must close before the block, and never runs over a
      // brace, so these rules fail.
      {"a:x(b{x:f()}", "fail@0"},
      {"a:x(,b{}", "fail@0"},
      {"a:x(\"{\"){}", "style[tag<a>:<x>(<\"{\">)]{}"},
      {"a:not([x=)]){}", "style[tag<a>:<not>(<[x=)]>)]{}"},
      {"[){],:2({}", "fail@0"},
      {"@import \"a;b c.css\" screen;", "import<\"a;b c.css\">media<screen>"},
      {"@supports (content:\"{\"){a{}}", "supports<(content:\"{\")>[style[tag<a>]{}]"},
      // An unterminated string runs to the end, so its item fails.
      {"a{content:\"x}", "fail@0"},
      {"a{}b{x:'y}c{x:y}", "fail@3"},
      {"a{x:f(}", "fail@0"},
      {"a[x{}", "fail@0"},
  });
}

// White space between selector parts is a combinator and is recorded.
TEST(Parser, SelectorWhiteSpace) {
  expect_cases({
      {".a :not(.b){}", "style[.<a>_:<not>(<.b>)]{}"},
      {"input:not([type])[readonly]{}", "style[tag<input>:<not>(<[type]>)+<[readonly]>]{}"},
      {"a:not(.b) :hover{}", "style[tag<a>:<not>(<.b>)_:<hover>]{}"},
      {"a:not(.b):hover{}", "style[tag<a>:<not>(<.b>):<hover>]{}"},
      {"a\n\t:hover{}", "style[tag<a>_:<hover>]{}"},
      {"a\f:hover{}", "style[tag<a>_:<hover>]{}"},
      // Kept in the untrimmed name or trailing text, so not recorded.
      {"a:hover :focus{}", "style[tag<a>:<hover >:<focus>]{}"},
      {"a:not(.x) b :hover{}", "style[tag<a>:<not>(<.x>)_+<b >:<hover>]{}"},
      // Before ',' or '{' white space means nothing.
      {"a:not(.b) ,c{}", "style[tag<a>:<not>(<.b>),tag<c>]{}"},
      {"a:not(.b) {}", "style[tag<a>:<not>(<.b>)]{}"},
      // A comment is no white space.
      {"a:not(.b)/**/c{}", "style[tag<a>:<not>(<.b>)+<c>]{}"},
      {"a:not(.b) /**/ c{}", "style[tag<a>:<not>(<.b>)_+<c>]{}"},
  });
}

TEST(Parser, DoubleColonsAreRecorded) {
  expect_cases({
      {"::selection{}", "style[::<selection>]{}"},
      {"a::-webkit-scrollbar{}", "style[tag<a>::<-webkit-scrollbar>]{}"},
      {"a:hover::before{}", "style[tag<a>:<hover>::<before>]{}"},
  });
}

std::string nested(std::string_view opener, std::size_t depth, std::string_view inner) {
  std::string text;
  for (std::size_t i = 0; i < depth; ++i) text += opener;
  text += inner;
  text.append(depth, '}');
  return text;
}

TEST(Parser, NestingLimit) {
  const std::string at_limit_text = nested("@media a{", max_nesting_depth, "b{x:y}");
  const auto at_limit = parse_stylesheet(at_limit_text);
  ASSERT_TRUE(at_limit.has_value());
  const Item* item = &at_limit->items.at(0);
  std::size_t depth = 0;
  while (const auto* media = std::get_if<MediaRule>(item)) {
    ++depth;
    item = &media->items.at(0);
  }
  EXPECT_EQ(depth, max_nesting_depth);
  EXPECT_TRUE(std::holds_alternative<StyleRule>(*item));

  const auto failure_offset = [](std::string_view text) {
    return parse_stylesheet(text).error().offset;
  };
  EXPECT_EQ(failure_offset(nested("@media a{", max_nesting_depth + 1, "")), 0u);
  EXPECT_EQ(failure_offset("a{} " + nested("@supports a{@media b{", max_nesting_depth, "")), 4u);
  // Far beyond the limit the parse still fails quietly, open or closed.
  EXPECT_EQ(failure_offset(nested("@media a{", 200000, "")), 0u);
  std::string unclosed;
  for (int i = 0; i < 200000; ++i) unclosed += "@media a{";
  EXPECT_EQ(parse_stylesheet(unclosed).error().offset, 0u);
}

TEST(Parser, ModelFieldsOfOneRule) {
  const auto parsed = parse_stylesheet("#nav .item::after, a:is(b) c{x:y}");
  ASSERT_TRUE(parsed.has_value());
  const auto& rule = std::get<StyleRule>(parsed->items.at(0));
  ASSERT_EQ(rule.selectors.size(), 2u);
  EXPECT_EQ(rule.selectors[0].simple, (SimpleSelector{SelectorKind::id, "nav .item"}));
  const auto pseudo_classes = [&](std::size_t i) {
    return std::vector<PseudoClass>(rule.selectors[i].pseudo_classes.begin(),
                                    rule.selectors[i].pseudo_classes.end());
  };
  EXPECT_EQ(pseudo_classes(0), (std::vector<PseudoClass>{{"after", "", "", true, false, false}}));
  EXPECT_EQ(pseudo_classes(1), (std::vector<PseudoClass>{{"is", "b", "c", false, false, true}}));
}

}  // namespace
}  // namespace css
