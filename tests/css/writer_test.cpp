#include "css/writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "css/parser.h"

namespace css {
namespace {

struct Case {
  std::string source;
  std::string output;
};

std::string parse_and_write(const std::string& source) {
  const auto parsed = parse_stylesheet(source);
  if (!parsed) return "fail@" + std::to_string(parsed.error().offset);
  return write_stylesheet(*parsed);
}

void expect_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(parse_and_write(c.source), c.output) << "source: " << c.source;
  }
}

TEST(Writer, EveryConstruct) {
  expect_cases({
      {"", ""},
      {"b , a { color : red ; margin : 0 ; }", "a,b{color:red;margin:0}"},
      {"li:not(.a) b{x:y}", "li:not(.a) b{x:y}"},
      {"@media screen { a{x:y} b{x:y} }", "@media screen{a{x:y}b{x:y}}"},
      {"@media x{}", "@media x{}"},
      {"@supports (a:b) { a{x:y} }", "@supports (a:b){a{x:y}}"},
      {"@page :first { margin: 0 }", "@page :first {margin:0}"},
      {"@page{x:y}", "@page {x:y}"},
      {"@font-face { font-family: f }", "@font-face {font-family:f}"},
      {"@viewport{width:device-width}", "@viewport {width:device-width}"},
      {"@-ms-viewport{width:device-width}", "@-ms-viewport {width:device-width}"},
      {"@-webkit-keyframes spin { from { x: 0 } to { x: 1 } }",
       "@-webkit-keyframes spin{from{x:0}to{x:1}}"},
      {"@keyframes k { 50% { x: 0 } 0% { x: 1 } }", "@keyframes k{50%{x:0}0%{x:1}}"},
      {"@namespace svg url(x);", "@namespace svg url(x);"},
      {"@namespace url(x);", "@namespace url(x);"},
      {"@import url(a.css) screen;", "@import url(a.css) screen;"},
      {"@import url(a.css);", "@import url(a.css);"},
      {"@import url(a.css) ;", "@import url(a.css) ;"},
      {"@charset \"UTF-8\";", "@charset \"UTF-8\";"},
      {"a{}", "a{}"},
      {"a { x : y ; } /* c */ b{}", "a{x:y}b{}"},
  });
}

TEST(Writer, SelectorsAreSortedByBytes) {
  expect_cases({
      {"a,a{}", "a,a{}"},
      {"a,,b{}", ",a,b{}"},
      {"a,{x:y}", ",a{x:y}"},
      {"a,.b,#c{}", "#c,.b,a{}"},
      {"b,B,a{}", "B,a,b{}"},
      {"ab,a{}", "a,ab{}"},
      // UTF-8 lead bytes are above ASCII.
      {"\u00e9,z{}", "z,\u00e9{}"},
      {"a:hover,a{}", "a,a:hover{}"},
  });
}

TEST(Writer, PseudoClassColons) {
  expect_cases({
      {"p::after{content:x}", "p:after{content:x}"},
      {"p::BEFORE{}", "p:BEFORE{}"},
      {"p::first-line,p::first-letter{}", "p:first-letter,p:first-line{}"},
      {"p::after {x:y}", "p:after {x:y}"},
      {"::selection{}", "::selection{}"},
      {"input::placeholder{}", "input::placeholder{}"},
      {"::-webkit-scrollbar{}", "::-webkit-scrollbar{}"},
      {"button::-moz-focus-inner{}", "button::-moz-focus-inner{}"},
      {"a:hover{}", "a:hover{}"},
      {"a:hover::after{}", "a:hover:after{}"},
  });
}

TEST(Writer, SelectorWhiteSpaceIsReproducedOnce) {
  expect_cases({
      {".a :not(.b){}", ".a :not(.b){}"},
      {".a:not(.b){}", ".a:not(.b){}"},
      {"input:not([type])[readonly]{}", "input:not([type])[readonly]{}"},
      {"a:not(.b) :hover{}", "a:not(.b) :hover{}"},
      {"a:hover {x:y}", "a:hover {x:y}"},
      {"a:hover :focus{}", "a:hover :focus{}"},
      {"a:not(.x) b :hover{}", "a:not(.x) b :hover{}"},
      {"a \n\t :hover{}", "a :hover{}"},
      {"li:not(.a)\n\tb{x:y}", "li:not(.a) b{x:y}"},
      {"a:not(.b) , c{}", "a:not(.b),c{}"},
      {"a:foo(){}", "a:foo(){}"},
      {"a:not(.b)/**/c{}", "a:not(.b)c{}"},
  });
}

TEST(Writer, DeclarationsKeepFallbacks) {
  expect_cases({
      {"a{height:100%;height:calc(100% + 60px);height:-moz-calc(100%)}",
       "a{height:100%;height:calc(100% + 60px);height:-moz-calc(100%)}"},
      {"a{margin:0;margin-left:5px;margin:10px}", "a{margin:0;margin-left:5px;margin:10px}"},
      {"a{x:1;y:2;x:1}", "a{y:2;x:1}"},
      {"a{content:\"x; COLOR:#FFF\"}", "a{content:\"x; COLOR:#FFF\"}"},
      {"b[title=\"x,a\"],a{}", "a,b[title=\"x,a\"]{}"},
      // Byte-wise, bytes unsigned, a prefix first: also where texts agree
      // on their first eight bytes or differ within them.
      {"aaaaaaaa\xC3\xA9,aaaaaaaab,z,aaaaaaa,\xC3\xA9,aaaaaaaa,aaaaaaaa{}",
       "aaaaaaa,aaaaaaaa,aaaaaaaa,aaaaaaaab,aaaaaaaa\xC3\xA9,z,\xC3\xA9{}"},
      // Sorted in front of a ')' of another selector, an unclosed '(' would
      // change meaning; it fails instead.
      {":)(:,),:)({}", "fail@0"},
      {":)(:,),:)(){}", ":)(),:)(:,){}"},
  });
}

PseudoClass pseudo(std::string_view name) {
  PseudoClass result;
  result.name = name;
  return result;
}

TEST(Writer, HandBuiltModels) {
  EXPECT_EQ(write_declarations(DeclarationMap{}), "");
  EXPECT_EQ(write_stylesheet(Stylesheet{}), "");

  // Flags never add a second space, nor one at the start of a selector.
  PseudoClass spaced = pseudo("hover ");
  spaced.trailing = "b";
  spaced.space_before_trailing = true;
  PseudoClass leading = pseudo("root");
  leading.space_before = true;
  const std::vector<PseudoClass> first{leading, spaced};
  EXPECT_EQ(write_selector_list(std::vector{Selector{std::nullopt, first}}), ":root:hover b");
  PseudoClass after_space = pseudo("x");
  after_space.space_before = true;
  const std::vector<PseudoClass> second{spaced, after_space};
  EXPECT_EQ(
      write_selector_list(std::vector{Selector{SimpleSelector{SelectorKind::tag, "a"}, second}}),
      "a:hover b :x");

  PseudoClass argument = pseudo("nth-child");
  argument.argument = "2n+1";
  const std::vector<PseudoClass> third{argument};
  EXPECT_EQ(write_selector_list(
                std::vector{Selector{SimpleSelector{SelectorKind::class_, "z"}, third},
                            Selector{SimpleSelector{SelectorKind::id, "z"}, {}}, Selector{}}),
            ",#z,.z:nth-child(2n+1)");

  DeclarationMap declarations;
  declarations.insert("a", "1");
  declarations.insert("b", "2");
  EXPECT_EQ(write_declarations(declarations), "a:1;b:2");
  EXPECT_EQ(write_item(Item{PageRule{declarations, ""}}), "@page  {a:1;b:2}");
  EXPECT_EQ(write_item(Item{KeyframesRule{"k", {KeyframeBlock{"from", declarations}}, false}}),
            "@keyframes k{from{a:1;b:2}}");
  EXPECT_EQ(write_item(Item{StatementRule{NamespaceRule{"u", ""}}}), "@namespace  u;");
  EXPECT_EQ(write_item(Item{StatementRule{ImportRule{"u", std::nullopt}}}), "@import u;");

  MediaRule media{"print", {}};
  media.items.push_back(Item{SupportsRule{"(x)", {}}});
  media.items.push_back(Item{FontFaceRule{declarations}});
  EXPECT_EQ(write_item(Item{std::move(media)}),
            "@media print{@supports (x){}@font-face {a:1;b:2}}");
}

}  // namespace
}  // namespace css
