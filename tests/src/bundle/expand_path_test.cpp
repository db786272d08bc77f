#include "src/bundle/expand_path.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brelix {
namespace {

using State = platform::EnvValue::State;

// A controlled environment: names map to values; a value of nullopt in
// not_unicode marks a variable that is set but not valid Unicode.
struct FakeEnvironment {
  std::map<std::string, std::string, std::less<>> values;
  std::map<std::string, std::string, std::less<>> not_unicode;  // name -> quoted raw value
  std::optional<std::string> home = "/home/tester";
  mutable int lookups = 0;
  mutable int home_queries = 0;

  PathEnvironment get() const {
    return PathEnvironment{
        [this](std::string_view name) {
          ++lookups;
          platform::EnvValue value;
          if (auto it = values.find(name); it != values.end()) {
            value.state = State::present;
            value.value = it->second;
          } else if (auto bad = not_unicode.find(name); bad != not_unicode.end()) {
            value.state = State::not_unicode;
            value.raw_quoted = bad->second;
          }
          return value;
        },
        [this] {
          ++home_queries;
          return home;
        },
    };
  }
};

FakeEnvironment standard_environment() {
  FakeEnvironment env;
  env.values = {
      {"VTPATH", "/srv/veltrano"},
      {"EMPTY", ""},
      {"DOLLAR", "$VTPATH"},
      {"TILDE", "~"},
      {"TILDE_SLASH", "~/from-value"},
      {"SLASH", "/s"},
      {":-x", "colon-dash"},
      {"with space", "spaced"},
      {"\xC3\xA9t\xC3\xA9", "summer"},   // été
      {"N\xD9\xA1", "arabic-one"},       // N followed by U+0661
      {"R\xE2\x85\xA7", "roman-eight"},  // R followed by U+2167
      {"a_1", "underscore"},
      {"x", "ex"},
  };
  env.not_unicode = {{"BAD", "\"a\\xff\""}};
  return env;
}

struct Case {
  std::string input;
  std::string expected;
};

TEST(ExpandPath, ExpandsReferences) {
  const std::vector<Case> cases = {
      {"$VTPATH/system.js", "/srv/veltrano/system.js"},
      {"${VTPATH}/system.js", "/srv/veltrano/system.js"},
      {"${VTPATH:-/elsewhere}/system.js", "/srv/veltrano/system.js"},
      {"${NOT_SET_ANYWHERE:-/elsewhere}/system.js", "/elsewhere/system.js"},
      // The default is copied as written, not expanded.
      {"${NOT_SET_ANYWHERE:-$VTPATH}", "$VTPATH"},
      {"${NOT_SET_ANYWHERE:-}/a", "/a"},
      // A default after the first ":-" keeps any later ":-".
      {"${NOT_SET_ANYWHERE:-a:-b}", "a:-b"},
      {"${BAD:-fallback}", "fallback"},
      {"$VTPATH/../ombril/app/ux.js", "/srv/veltrano/../ombril/app/ux.js"},
      {"$EMPTY/a.js", "/a.js"},
      {"${EMPTY}/a.js", "/a.js"},
      {"${EMPTY:-not-used}/a.js", "/a.js"},
      {"$$VTPATH", "$VTPATH"},
      {"$$", "$"},
      {"$$$", "$$"},
      {"$$$VTPATH", "$/srv/veltrano"},
      {"a$", "a$"},
      {"a$/b", "a$/b"},
      {"$-x$VTPATH", "$-x/srv/veltrano"},
      {"${:-x}", "colon-dash"},
      {"${with space}", "spaced"},
      // Braces do not nest: the first } closes the reference.
      {"${x}}", "ex}"},
      {"${x}$x", "exex"},
      {"${VTPATH", "${VTPATH"},
      {"${ $VTPATH", "${ /srv/veltrano"},
      {"$VTPATH${", "/srv/veltrano${"},
      // Values are never scanned again.
      {"$DOLLAR/a", "$VTPATH/a"},
      {"$VTPATH.js", "/srv/veltrano.js"},
      {"$a_1-b", "underscore-b"},
      {"$\xC3\xA9t\xC3\xA9/x", "summer/x"},
      {"$N\xD9\xA1/x", "arabic-one/x"},
      {"$R\xE2\x85\xA7/x", "roman-eight/x"},
      // Bytes that are not UTF-8 end a name and are copied as they are.
      {"$x\xFF/y", "ex\xFF/y"},
      {"\xFF$x",
       "\xFF"
       "ex"},
  };
  const FakeEnvironment env = standard_environment();
  for (const Case& c : cases) {
    auto result = expand_path(c.input, env.get());
    ASSERT_TRUE(result.has_value()) << c.input << ": " << result.error().message();
    EXPECT_EQ(result->view(), c.expected) << c.input;
  }
}

TEST(ExpandPath, ExpandsALeadingTilde) {
  const std::vector<Case> cases = {
      {"~", "/home/tester"},
      {"~/a.js", "/home/tester/a.js"},
      {"~\\a.js", "/home/tester\\a.js"},
      {"~user/a.js", "~user/a.js"},
      {"a/~/b", "a/~/b"},
      {"~/$VTPATH", "/home/tester//srv/veltrano"},
      {"~$SLASH", "/home/tester/s"},
      // A tilde that came from a value stays.
      {"$TILDE", "~"},
      {"$TILDE_SLASH/a", "~/from-value/a"},
      {"${TILDE}/a", "~/a"},
  };
  const FakeEnvironment env = standard_environment();
  for (const Case& c : cases) {
    auto result = expand_path(c.input, env.get());
    ASSERT_TRUE(result.has_value()) << c.input;
    EXPECT_EQ(result->view(), c.expected) << c.input;
  }
}

TEST(ExpandPath, TildeAfterExpansionFollowsTheNewText) {
  // The input begins with ~, so the rule is applied to the new text: its
  // second character now comes from the value.
  FakeEnvironment env = standard_environment();
  auto result = expand_path("~$SLASH", env.get());
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->view(), "/home/tester/s");
  auto user = expand_path("~$VTPATH", env.get());
  ASSERT_TRUE(user.has_value());
  EXPECT_EQ(user->view(), "/home/tester/srv/veltrano");
}

TEST(ExpandPath, UnknownHomeLeavesTheTilde) {
  FakeEnvironment env = standard_environment();
  env.home = std::nullopt;
  for (std::string input : {"~", "~/a", "~/$x"}) {
    auto result = expand_path(input, env.get());
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->view(), input == "~/$x" ? "~/ex" : input);
  }
}

TEST(ExpandPath, AsksForTheHomeOnlyForALeadingTilde) {
  FakeEnvironment env = standard_environment();
  for (std::string input : {"a/~", "$VTPATH/~", "$TILDE/a", "plain"}) {
    ASSERT_TRUE(expand_path(input, env.get()).has_value());
  }
  EXPECT_EQ(env.home_queries, 0);
}

struct FailureCase {
  std::string input;
  std::string var_name;
  std::string message;
};

TEST(ExpandPath, ReportsTheFirstFailedLookup) {
  const std::vector<FailureCase> cases = {
      {"$VT/system.js", "VT", "error looking key 'VT' up: environment variable not found"},
      {"${VT}/system.js", "VT", "error looking key 'VT' up: environment variable not found"},
      {"${}", "", "error looking key '' up: environment variable not found"},
      {"${:-}", ":-", "error looking key ':-' up: environment variable not found"},
      {"${:-x:-y}", ":-x:-y", "error looking key ':-x:-y' up: environment variable not found"},
      {"${${x}", "${x", "error looking key '${x' up: environment variable not found"},
      {"${not set}", "not set", "error looking key 'not set' up: environment variable not found"},
      {"$FIRST_UNSET$SECOND_UNSET", "FIRST_UNSET",
       "error looking key 'FIRST_UNSET' up: environment variable not found"},
      {"$BAD/a", "BAD",
       "error looking key 'BAD' up: environment variable was not valid unicode: \"a\\xff\""},
      {"~/$NOPE", "NOPE", "error looking key 'NOPE' up: environment variable not found"},
  };
  const FakeEnvironment env = standard_environment();
  for (const FailureCase& c : cases) {
    auto result = expand_path(c.input, env.get());
    ASSERT_FALSE(result.has_value()) << c.input;
    EXPECT_EQ(result.error().var_name, c.var_name) << c.input;
    EXPECT_EQ(result.error().message(), c.message) << c.input;
  }
}

TEST(ExpandPath, StopsAtTheFirstFailure) {
  FakeEnvironment env = standard_environment();
  auto result = expand_path("$x$NOPE$x$x", env.get());
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(env.lookups, 2);
}

TEST(LookupError, BecomesAFailureWithItsCause) {
  const LookupError missing{"NOPE", LookupError::Cause::not_present, {}};
  const Failure failure = missing.to_failure();
  EXPECT_EQ(failure.message, "error looking key 'NOPE' up: environment variable not found");
  EXPECT_EQ(failure.causes, std::vector<std::string>{"environment variable not found"});

  const LookupError bad{"BAD", LookupError::Cause::not_unicode, "\"\\u{d800}\""};
  EXPECT_EQ(bad.to_failure().causes,
            std::vector<std::string>{"environment variable was not valid unicode: \"\\u{d800}\""});
}

TEST(ExpandPath, ReturnsTheInputItselfWhenNothingIsReplaced) {
  const FakeEnvironment env = standard_environment();
  for (std::string input :
       {"plain/path.js", "", "a$", "$/x", "${unclosed", "~user", "a~/b", "\xFF\xFE"}) {
    auto result = expand_path(input, env.get());
    ASSERT_TRUE(result.has_value()) << input;
    EXPECT_FALSE(result->copied()) << input;
    EXPECT_EQ(result->view().data(), input.data()) << input;
    EXPECT_EQ(result->view().size(), input.size()) << input;
  }
  auto replaced = expand_path("$x", env.get());
  ASSERT_TRUE(replaced.has_value());
  EXPECT_TRUE(replaced->copied());
}

// The rules written out the plain way, with no attention to copies or
// speed, to compare the real expansion against on every short input.
std::optional<std::string> expand_plainly(const std::string& input,
                                          const std::map<std::string, std::string>& vars,
                                          const std::string& home) {
  auto is_name = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  auto tilde = [&](const std::string& text) {
    if (!text.empty() && text[0] == '~' &&
        (text.size() == 1 || text[1] == '/' || text[1] == '\\')) {
      return home + text.substr(1);
    }
    return text;
  };
  if (input.find('$') == std::string::npos) return tilde(input);
  std::string out;
  std::size_t i = 0;
  while (i < input.size()) {
    if (input[i] != '$') {
      out += input[i++];
      continue;
    }
    const std::string rest = input.substr(i);
    if (rest.size() > 1 && rest[1] == '{') {
      const std::size_t close = rest.find('}');
      if (close == std::string::npos) {
        out += "${";
        i += 2;
        continue;
      }
      const std::string inside = rest.substr(2, close - 2);
      const std::size_t sep = rest.substr(0, close).find(":-");
      std::string name = inside;
      std::optional<std::string> def;
      if (sep != std::string::npos && sep != 2) {
        name = rest.substr(2, sep - 2);
        def = rest.substr(sep + 2, close - sep - 2);
      }
      if (auto it = vars.find(name); it != vars.end()) {
        out += it->second;
      } else if (def) {
        out += *def;
      } else {
        return std::nullopt;
      }
      i += close + 1;
    } else if (rest.size() > 1 && is_name(rest[1])) {
      std::size_t end = 1;
      while (end < rest.size() && is_name(rest[end])) ++end;
      auto it = vars.find(rest.substr(1, end - 1));
      if (it == vars.end()) return std::nullopt;
      out += it->second;
      i += end;
    } else {
      out += '$';
      i += (rest.size() > 1 && rest[1] == '$') ? std::size_t{2} : std::size_t{1};
    }
  }
  if (input[0] != '~' && !out.empty() && out[0] == '~') return out;
  return tilde(out);
}

TEST(ExpandPath, AgreesWithThePlainRulesOnEveryShortInput) {
  // Every short mix of these, a byte that is not UTF-8 included, puts a $
  // at every position next to every other kind of character.
  const std::string alphabet = "${}:-A~/\xFF";
  const std::map<std::string, std::string> vars = {
      {"A", "~$"}, {"AA", ""}, {":-", "cd"}, {"-A", "e"}};
  FakeEnvironment env;
  env.home = "/h";
  for (const auto& [name, value] : vars) env.values[name] = value;
  const PathEnvironment environment = env.get();
  std::vector<std::size_t> digits;
  for (std::size_t length = 0; length <= 6; ++length) {
    digits.assign(length, 0);
    while (true) {
      std::string input;
      for (std::size_t d : digits) input += alphabet[d];
      auto ours = expand_path(input, environment);
      auto plain = expand_plainly(input, vars, "/h");
      ASSERT_EQ(ours.has_value(), plain.has_value()) << input;
      if (ours) {
        ASSERT_EQ(ours->view(), *plain) << input;
      }
      std::size_t k = 0;
      while (k < length && ++digits[k] == alphabet.size()) digits[k++] = 0;
      if (k == length) break;
    }
  }
}

TEST(ExpandPath, StaysLinearOnManyReferences) {
  FakeEnvironment env = standard_environment();
  const std::size_t count = 200000;
  struct Big {
    std::string input;
    bool succeeds;
    std::size_t size;
  };
  std::string refs;
  for (std::size_t i = 0; i < count; ++i) refs += "$x/";
  std::string unclosed;
  for (std::size_t i = 0; i < count; ++i) unclosed += "${";
  std::string dollars(count * 2, '$');
  std::string defaults;
  for (std::size_t i = 0; i < count; ++i) defaults += "${NOPE:-d}";
  std::string long_name = "$" + std::string(count * 2, 'n');
  const std::vector<Big> inputs = {
      {refs, true, count * 3}, {unclosed + "$x", true, count * 2 + 2},
      {dollars, true, count},  {defaults, true, count},
      {long_name, false, 0},   {"${" + unclosed + "}", false, 0},
  };
  const auto start = std::chrono::steady_clock::now();
  for (const Big& big : inputs) {
    auto result = expand_path(big.input, env.get());
    ASSERT_EQ(result.has_value(), big.succeeds);
    if (result) {
      EXPECT_EQ(result->view().size(), big.size);
    }
  }
  // Quadratic work on these sizes takes minutes; linear work well under a
  // second even under sanitizers and Wine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace
}  // namespace brelix
