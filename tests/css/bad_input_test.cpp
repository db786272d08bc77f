// Hostile and broken input: every text gives a sheet or a failure, never a
// crash or a hang, and what the writer prints from a sheet parses again.
// The sizes are large enough that a quadratic scan would not finish in the
// time of a test run.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "css/parser.h"
#include "css/writer.h"
#include "unicode/utf8.h"

namespace css {
namespace {

// A selector list that prints beginning with '@' or '}' cannot be read
// back as a style rule. Only a form feed or another non-gap space in front
// of such a selector makes one ("\f@x{}" is a rule for the tag "@x").
bool reads_back_as_style_rule(const std::vector<Item>& items) {
  for (const Item& item : items) {
    if (const auto* rule = std::get_if<StyleRule>(&item)) {
      const std::string text = write_selector_list(rule->selectors);
      if (!text.empty() && (text[0] == '@' || text[0] == '}')) return false;
      if (!reads_back_as_style_rule(rule->items)) return false;
    } else if (const auto* at_rule = std::get_if<AtRule>(&item)) {
      if (!reads_back_as_style_rule(at_rule->items)) return false;
    } else if (const auto* media = std::get_if<MediaRule>(&item)) {
      if (!reads_back_as_style_rule(media->items)) return false;
    } else if (const auto* supports = std::get_if<SupportsRule>(&item)) {
      if (!reads_back_as_style_rule(supports->items)) return false;
    }
  }
  return true;
}

// An unterminated "/*" is selector text, but sorting may put a selector
// holding "*/" after it, and then the printed text has a real comment.
bool has_unterminated_comment(std::string_view text) {
  const std::size_t last_open = text.rfind("/*");
  return last_open != std::string_view::npos &&
         text.find("*/", last_open + 2) == std::string_view::npos;
}

// Parses; when that succeeds, the printed text must parse again.
void expect_sound(std::string_view text) {
  const auto parsed = parse_stylesheet(text);
  if (!parsed) {
    EXPECT_LE(parsed.error().offset, text.size());
    return;
  }
  const std::string written = write_stylesheet(*parsed);
  if (!reads_back_as_style_rule(parsed->items) || has_unterminated_comment(text)) return;
  const auto again = parse_stylesheet(written);
  EXPECT_TRUE(again.has_value()) << "input: " << text << "\nwritten: " << written;
}

const std::string realistic_sheet =
    "@charset \"UTF-8\";\n"
    "@import url(\"base.css\") screen and (min-width: 10px);\n"
    "@namespace svg url(http://www.w3.org/2000/svg);\n"
    "/* Header */\n"
    "html, body { margin: 0; padding: 0; font: 12px/1.5 \"Open Sans\", Arial, sans-serif }\n"
    "#nav .item:hover > a, .btn::after { color: #FFFFFF; background: "
    "url(data:image/png;base64,iVBO=) }\n"
    "input:not([type=\"checkbox\"])[readonly] , .a :not(.b) { content: \"x; y\"; border: 0px solid "
    "rgb(1, 2, 3) }\n"
    "@media screen and (max-width: 600px) { .col { width: 100% } @supports (display: grid) { .g { "
    "display: grid } } }\n"
    "@font-face { font-family: \"Icons\"; src: url(icons.woff2) format(\"woff2\") }\n"
    "@-webkit-keyframes spin { from { -webkit-transform: rotate(0deg) } to { -webkit-transform: "
    "rotate(360deg) } }\n"
    "@keyframes pulse { 0%, 100% { opacity: 1 } 50% { opacity: .5 } }\n"
    "@page :first { margin: 1in }\n"
    "@-ms-viewport { width: device-width }\n"
    "a[title='a,b{c}']:focus-visible { outline: 2px dotted } /* end */\n";

// For a text that is only parsed, never read through its model.
bool parses(std::string_view text) {
  return parse_stylesheet(text).has_value();
}

TEST(BadInput, TheRealisticSheetParses) {
  ASSERT_TRUE(parse_stylesheet(realistic_sheet).has_value());
  expect_sound(realistic_sheet);
}

TEST(BadInput, EveryTruncation) {
  for (std::size_t length = 0; length <= realistic_sheet.size(); ++length) {
    expect_sound(std::string_view(realistic_sheet).substr(0, length));
  }
}

TEST(BadInput, EveryByteDeleted) {
  for (std::size_t i = 0; i < realistic_sheet.size(); ++i) {
    std::string text = realistic_sheet;
    text.erase(i, 1);
    expect_sound(text);
  }
}

// A small deterministic generator, so failures reproduce.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }

 private:
  std::uint64_t state_;
};

TEST(BadInput, ArbitraryBytes) {
  Random random(0x5eed);
  for (int round = 0; round < 3000; ++round) {
    std::string bytes(random.below(64), '\0');
    for (char& c : bytes) c = static_cast<char>(random.next());
    expect_sound(unicode::decode_lossy(bytes));
    // And undecoded, as a caller might pass them.
    expect_sound(bytes);
  }
}

// Mostly the characters the grammar cares about, so that random texts
// reach deep into the rules.
void expect_shuffled_sound(const std::vector<std::string>& words, std::uint64_t seed) {
  const std::string alphabet = "@{}:;,()[]\"'\\/* \t\n\f#.a1-";
  Random random(seed);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const std::size_t length = random.below(40);
    for (std::size_t i = 0; i < length; ++i) {
      if (random.below(5) == 0) {
        text += words[random.below(words.size())];
      } else {
        text += alphabet[random.below(alphabet.size())];
      }
    }
    expect_sound(text);
  }
}

TEST(BadInput, ShuffledPunctuation) {
  expect_shuffled_sound({"@media ", "@supports ", "@import ", "@page", "@keyframes ", "@font-face",
                         "/*", "*/", "::", ":not(", "a{x:y}"},
                        42);
}

// The modern grammar's constructs, so that nested rules, groups after them
// and kept at-rules are printed and read back too.
TEST(BadInput, ShuffledModernCss) {
  expect_shuffled_sound({"@layer ", "@container ", "@foo ", "@top-left", "@MEDIA ", "&",
                         "--x:", "a{x:y}", "b{}", "--y:;", "/*", "*/", ":hover{"},
                        4242);
}

std::string repeat(std::string_view piece, std::size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

// Built by appending: GCC 12 warns falsely about `"literal" + std::string`
// with texts this large.
std::string wrapped(std::string_view before, std::string_view middle, std::string_view after) {
  std::string text(before);
  text += middle;
  text += after;
  return text;
}

TEST(BadInput, UnterminatedConstructs) {
  const std::vector<std::string> texts{
      "/*",
      "a{x:y}/*",
      "a{x:\"",
      "a{x:'y;}",
      "a[",
      "a:not(",
      "a:not(\"x){}",
      "@media x{",
      "@import \"a;",
      "a{x:url(;}",
      "@keyframes k{from{",
      "\"",
      "'\\",
      "a{x:\"\\",
  };
  for (const std::string& text : texts) {
    EXPECT_FALSE(parse_stylesheet(text).has_value()) << text;
  }
}

TEST(BadInput, StrayBraces) {
  const std::vector<std::pair<std::string, std::size_t>> cases{
      {"}", 0}, {"a{}}", 3}, {"a{}{}", 3}, {"a{x:y}}b{}", 6}, {"@media x{}}", 10}, {"{{}}", 0},
  };
  for (const auto& [text, offset] : cases) {
    const auto parsed = parse_stylesheet(text);
    ASSERT_FALSE(parsed.has_value()) << text;
    EXPECT_EQ(parsed.error().offset, offset) << text;
  }
}

TEST(BadInput, HugeInputsStayLinear) {
  // 50,000 selectors, sorted on output.
  std::string selectors;
  for (int i = 49999; i >= 0; --i) {
    selectors += ".s";
    selectors += std::to_string(i);
    if (i > 0) selectors += ',';
  }
  const std::string selector_rule = selectors + "{x:y}";
  const auto many_selectors = parse_stylesheet(selector_rule);
  ASSERT_TRUE(many_selectors.has_value());
  const auto& rule = std::get<StyleRule>(many_selectors->items.at(0));
  EXPECT_EQ(rule.selectors.size(), 50000u);
  EXPECT_TRUE(
      write_stylesheet(*many_selectors).starts_with(".s0,.s1,.s10,.s100,.s1000,.s10000,.s10001,"));

  // 100,000 declarations in one block.
  std::string declarations = "a{";
  for (int i = 0; i < 100000; ++i) {
    declarations += 'p';
    declarations += std::to_string(i % 5000);
    declarations += ':';
    declarations += std::to_string(i);
    declarations += ';';
  }
  declarations += '}';
  const auto many_declarations = parse_stylesheet(declarations);
  ASSERT_TRUE(many_declarations.has_value());
  EXPECT_EQ(std::get<StyleRule>(many_declarations->items.at(0)).declarations.size(), 100000u);

  // A million-character value and selector.
  EXPECT_TRUE(parses(wrapped("a{x:", repeat("ab(c) ", 200000), "}")));
  EXPECT_TRUE(parses(repeat("a ", 500000) + "{}"));
}

TEST(BadInput, RepeatedUnclosedOpenersStayLinear) {
  // Each of these would rescan the rest of the text once per opener if a
  // failed scan were retried from every later opener.
  expect_sound(repeat("a:x(", 100000) + "{}");
  expect_sound(repeat("a:x(:y(b) ", 50000) + "{}");
  expect_sound(wrapped("a{x:", repeat("/*", 100000), "*/y}"));
  expect_sound(repeat("a/*", 100000) + "{}");
  expect_sound(repeat("\"", 100001));
  expect_sound(repeat("@media x{a:b(", 100000));
  expect_sound(repeat(":a(", 100000));
  expect_sound(repeat("a{}", 100000) + "/*");
  // The modern grammar tries a declaration before each nested rule; an
  // unclosed '(' or '[' must not make every try scan to the end.
  expect_sound(wrapped("a{--x:;", repeat("b:c[(]{}", 50000), repeat(")", 50000)));
  expect_sound(wrapped("a{--x:;", repeat("b:(", 100000), "}"));
  expect_sound(wrapped("a{", repeat("@x (", 100000), "}"));
  expect_sound(repeat("@layer x{a{", 100000));
}

TEST(BadInput, ModernNestingHasTheSameLimit) {
  const auto nested = [](std::size_t depth) {
    return wrapped(repeat("a{", depth), "x:y", repeat("}", depth));
  };
  // The innermost rule holds declarations only, as the body of the
  // deepest @media does.
  EXPECT_TRUE(parses(nested(max_nesting_depth + 1)));
  EXPECT_FALSE(parses(nested(max_nesting_depth + 2)));
  const auto layers = [](std::size_t depth) {
    return wrapped(repeat("@layer a{", depth), "", repeat("}", depth));
  };
  EXPECT_TRUE(parses(layers(max_nesting_depth)));
  EXPECT_FALSE(parses(layers(max_nesting_depth + 1)));
}

}  // namespace
}  // namespace css
