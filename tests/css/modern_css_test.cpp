// Modern CSS that the fixed grammar rejects: what the parser makes of it,
// what the minifier prints, and that sheets the fixed grammar accepts keep
// their reading.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "css/optimizations/minifier.h"
#include "tests/css/model_dump.h"

namespace css {
namespace {

using testing::dump_parse;

struct Case {
  std::string input;
  std::string expected;  // a model dump, "fail@N", or the minified text
};

TEST(ModernCss, Models) {
  const std::vector<Case> cases{
      {"a{--x: ;--y:/* c */}", "style[tag<a>]{--x:;--y:}"},
      {"a{color:red;&:hover{x:y}color:blue}",
       "style[tag<a>]{color:red}[style[tag<&>:<hover>]{x:y} group{color:blue}]"},
      {"a{> b{x:y}div{x:y}}", "style[tag<a>]{}[style[tag<> b>]{x:y} style[tag<div>]{x:y}]"},
      {"a{@media x{color:red;b{x:y}}}",
       "style[tag<a>]{}[media<x>[group{color:red} style[tag<b>]{x:y}]]"},
      {"@media x{a{b{x:y}}}", "media<x>[style[tag<a>]{}[style[tag<b>]{x:y}]]"},
      {"@layer x;", "opaque<@layer x;>"},
      {"@LAYER  A ,\n B{}", "at-layer<A , B>[]"},
      {"@MEDIA x{}", "media<x>[]"},
      {"@-moz-keyframes k{}", "at--moz-keyframes<k>[]"},
      {"@font-feature-values x{}", "at-font-feature-values<x>[]"},
      {"@property --x{syntax:'*'}", "at-property<--x>[group{syntax:'*'}]"},
      {"@page{margin:0;@top-left{x:y}}", "at-page<>[group{margin:0} at-top-left<>[group{x:y}]]"},
      {"@X  a /**/ b { c { d } }", "opaque<@X a b{c{d}}>"},
      // Whole names only: the fixed grammar's prefix match ("@mediax")
      // does not carry over.
      {"@mediax y{a{}}@supportsx{}", "opaque<@mediax y{a{}}> opaque<@supportsx{}>"},
  };
  // The empty custom property in front makes the fixed grammar fail, so
  // every case is read by the modern one.
  for (const Case& c : cases) {
    EXPECT_EQ(dump_parse("p{--f:;}" + c.input), "style[tag<p>]{--f:} " + c.expected) << c.input;
  }
}

TEST(ModernCss, Minified) {
  const std::vector<Case> cases{
      // The space keeps an empty custom property valid in engines that
      // require a token.
      {".b{--bs-btn-font-family: ;color:#FFFFFF}", ".b{--bs-btn-font-family: ;color:#fff}"},
      {".a{color:#FFFFFF;&:hover{margin:0px}.b &{x:y}+ b{x:y}}",
       ".a{color:#fff;&:hover{margin:0}.b &{x:y}+ b{x:y}}"},
      // Exact repeats go within a group, never across a nested rule.
      {"a{color:red;b{x:y}color:red;color:red}", "a{color:red;b{x:y}color:red}"},
      {"a{b{x:y}c:d;@media (x){e:f}}", "a{b{x:y}c:d;@media (x){e:f}}"},
      {"@layer  reset ,  base ;@layer base{a{color:#FFFFFF}}",
       "@layer reset , base;@layer base{a{color:#fff}}"},
      {"@container card (min-width: 400px) {.x{margin:0px}}",
       "@container card (min-width: 400px){.x{margin:0}}"},
      {"@scope (.card) to (.content) { img { border: 0 } }",
       "@scope (.card) to (.content){img{border:0}}"},
      {"@starting-style{a{opacity:0}}@-moz-document url-prefix(){a{x:y}}",
       "@starting-style{a{opacity:0}}@-moz-document url-prefix(){a{x:y}}"},
      {"@property --x { syntax: '<length>'; inherits: false; initial-value: 0px }",
       "@property --x{syntax:'<length>';inherits:false;initial-value:0px}"},
      {"@page :first{margin:1in;@top-left{content:\"x\";color:#FF0000}}",
       "@page :first{margin:1in;@top-left{content:\"x\";color:#f00}}"},
      {"@font-feature-values Font One { @styleset { nice-style: 12 } }",
       "@font-feature-values Font One{@styleset{nice-style:12}}"},
      {"@MEDIA screen{a{x:y}}@Font-Face{font-family:x}@IMPORT url(a.css);",
       "@media screen{a{x:y}}@font-face {font-family:x}@import url(a.css);"},
      // Lower-cased, it would name the sheet's encoding.
      {"@CHARSET \"latin1\";", "@CHARSET \"latin1\";"},
      // Unknown at-rules keep their text; white space and comments go
      // only where they cannot join two tokens.
      {"@foo  bar /* c */ baz{ x : y ;  /* c */ z{ a : \"b  c\" } }@foo a/**/b;",
       "@foo bar baz{x : y;z{a : \"b  c\"}}@foo a/**/b;"},
      // Valid CSS the fixed grammar rejects.
      {"a{color:red;;}b{;x:y}", "a{color:red}b{x:y}"},
      // ... but not the one after a nested rule, where a browser stops
      // dropping a rule whose selector it rejects.
      {"a{b::x{color:red};;c:d}", "a{b::x{color:red};c:d}"},
      {"@media{a{color:red}}", "@media {a{color:red}}"},
      {"<!--a{color:red}-->", "a{color:red}"},
      {"a{--x:{a:b}}", "a{--x:{a:b}}"},
      {"a{color:red;\f}\f", "a{color:red}"},
      // Sheets the fixed grammar accepts keep its reading, odd or not.
      {"@mediax y{a{x:y}}", "@media x y{a{x:y}}"},
      // A declaration missing its ';' before a nested rule is that rule's
      // selector; its comma in parentheses splits nothing.
      {".a{transform:rotate(45deg) translate(-50%,-50%) &:hover{color:red}}.x{margin:0}",
       ".a{transform:rotate(45deg) translate(-50%,-50%) &:hover{color:red}}.x{margin:0}"},
      // ... but not one that reads a nested rule as a declaration.
      {".card{padding:1rem;&:hover{color:red}margin:0}.b,.a{color:blue}",
       ".card{padding:1rem;&:hover{color:red}margin:0}.a,.b{color:blue}"},
  };
  const CssMinifier minifier;
  for (const Case& c : cases) {
    const auto minified = minifier.minify_css(c.input);
    ASSERT_TRUE(minified.has_value()) << c.input;
    EXPECT_EQ(*minified, c.expected) << c.input;
    // What is printed reads back to itself.
    EXPECT_EQ(minifier.minify_css(*minified).value_or("fail"), c.expected) << c.input;
  }
}

TEST(ModernCss, StillRejected) {
  const std::vector<Case> cases{
      {"a{--x:;}\nb{x:\"y}", "Invalid block at line 2"},
      {"a{--x:;}\n\n@layer x{a{x:y}", "Invalid block at line 3"},
      {"a{--x:;}\n/* x", "Invalid block at line 2"},
      {"a{--x:;}\nb{c{x:y}}}", "Invalid block at line 2"},
      {"a{--x:;color:;}", "Invalid block at line 1"},
      {"a{--x:;}\n@foo x{", "Invalid block at line 2"},
      {"a{--x:;}\n@foo x}", "Invalid block at line 2"},
      // Sorted, these selectors would print as "a:b;c,x} d", which reads
      // back as a declaration.
      {"p{--x:;}\nq{x} d,a:b;c{}}", "Invalid block at line 2"},
      // The modern reading stops earlier than the fixed one: the fixed
      // one's line is kept.
      {"@media x{a;b{c:d}}\nx{", "Invalid block at line 2"},
      // A nested rule, not a declaration, and never closed.
      {"a{b:c{d:e}", "Invalid block at line 1"},
      // Sorted first, the marker would be skipped when read back.
      {"b,-->a{x:y}", "Invalid block at line 1"},
      {"e{-->,{}}", "Invalid block at line 1"},
  };
  const CssMinifier minifier;
  for (const Case& c : cases) {
    const auto minified = minifier.minify_css(c.input);
    ASSERT_FALSE(minified.has_value()) << c.input;
    EXPECT_EQ(minified.error().message(), c.expected) << c.input;
  }
}

}  // namespace
}  // namespace css
