// Path expansion over a fixed environment. Beyond not crashing, what must
// hold for any text, seen by comparing expansions of related texts:
// - with the home folder unknown, no ~ is ever replaced, and the only
//   difference the home makes is a leading "~", "~/" or "~\" of the
//   expansion becoming the home folder, for an input that starts with ~;
// - a text with no $ in it comes back as the very input, no copy made,
//   unless its leading ~ stands for the home folder;
// - text put in front (which hides a leading ~) or behind (which can end no
//   reference, and continue none) comes back unchanged around the
//   expansion of the rest;
// - a failure names the variable looked up last, one this environment
//   lacks or holds as not valid Unicode, written in the input as $NAME or
//   ${NAME};
// - no more lookups than $ signs, and the home is asked for at most once,
//   only for an input that starts with ~.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/bundle/expand_path.h"

namespace {

using brelix::ExpandedPath;
using brelix::LookupError;
using brelix::PathEnvironment;
using State = brelix::platform::EnvValue::State;

constexpr std::string_view home = "/home/fuzz";

// Set variables, among them an empty value, a value that is itself a
// reference (values are never expanded again), a value starting with ~ (a
// tilde from a value stays), names only braces can write, and names and
// values outside ASCII.
const std::map<std::string, std::string, std::less<>> values = {
    {"VTPATH", "/srv/veltrano"},
    {"HOME", "/home/other"},
    {"EMPTY", ""},
    {"DOLLAR", "$VTPATH"},
    {"TILDE", "~/t"},
    {"a", "A"},
    {"a_1", "/under"},
    {"with space", "spaced"},
    {":-x", "colon-dash"},
    {"\xC3\xA9t\xC3\xA9", "\xE2\x82\xAC"},  // été, €
};

// Set, but not valid Unicode: what the platform reports for them.
const std::map<std::string, std::string, std::less<>> not_unicode = {
    {"BAD", "\"a\\xff\""},
    {"BAD2", "\"\\xc3\""},
};

struct Calls {
  std::vector<std::string> lookups;
  int home_queries = 0;
};

Calls calls;

brelix::platform::EnvValue look_up(std::string_view name) {
  calls.lookups.emplace_back(name);
  brelix::platform::EnvValue found;
  if (auto it = values.find(name); it != values.end()) {
    found.state = State::present;
    found.value = it->second;
  } else if (auto bad = not_unicode.find(name); bad != not_unicode.end()) {
    found.state = State::not_unicode;
    found.raw_quoted = bad->second;
  }
  return found;
}

const PathEnvironment with_home{look_up, [] {
                                  ++calls.home_queries;
                                  return std::optional<std::string>(home);
                                }};
const PathEnvironment without_home{look_up, [] {
                                     ++calls.home_queries;
                                     return std::optional<std::string>();
                                   }};

[[noreturn]] void fail(const char* what, std::string_view input) {
  std::fprintf(stderr, "expand_path: %s\ninput (%zu bytes): ", what, input.size());
  std::fwrite(input.data(), 1, input.size(), stderr);
  std::fputc('\n', stderr);
  std::abort();
}

void check_failure(const LookupError& error, std::string_view input) {
  if (calls.lookups.empty() || calls.lookups.back() != error.var_name) {
    fail("the failure does not name the variable looked up last", input);
  }
  if (values.contains(error.var_name)) {
    fail("the failure names a variable that is set", input);
  }
  const auto bad = not_unicode.find(error.var_name);
  const LookupError::Cause expected =
      bad == not_unicode.end() ? LookupError::Cause::not_present : LookupError::Cause::not_unicode;
  if (error.cause != expected) {
    fail("the failure's cause does not match the variable's state", input);
  }
  if (error.raw_quoted != (bad == not_unicode.end() ? std::string() : bad->second)) {
    fail("the failure's raw value is not the variable's", input);
  }
  const std::string plain = "$" + error.var_name;
  const std::string braced = "${" + error.var_name + "}";
  if (input.find(plain) == std::string_view::npos && input.find(braced) == std::string_view::npos) {
    fail("the failure names a variable the input does not refer to", input);
  }
  const std::string message = error.message();
  if (!message.ends_with(error.cause_text()) ||
      message.find("'" + error.var_name + "'") == std::string::npos) {
    fail("the failure's message lacks the name or the cause", input);
  }
}

// One expansion, with the call counts checked.
struct Outcome {
  std::optional<std::string> text;
  bool copied = false;
  std::optional<LookupError> error;
};

Outcome expand(std::string_view input, const PathEnvironment& environment) {
  calls = {};
  auto result = brelix::expand_path(input, environment);
  std::size_t dollars = 0;
  for (char c : input) dollars += c == '$';
  if (calls.lookups.size() > dollars) fail("more lookups than $ signs", input);
  if (calls.home_queries > 1) fail("the home asked for more than once", input);
  if (calls.home_queries == 1 && !input.starts_with('~'))
    fail("the home asked for without a leading ~", input);
  if (!result) {
    check_failure(result.error(), input);
    return Outcome{std::nullopt, false, result.error()};
  }
  const ExpandedPath& path = *result;
  if (!path.copied() &&
      (path.view().data() != input.data() || path.view().size() != input.size())) {
    fail("an expansion that is no copy is not the input itself", input);
  }
  return Outcome{path.to_string(), path.copied(), std::nullopt};
}

// Both succeeded with the same text, or both failed on the same variable.
bool same(const Outcome& a, const Outcome& b) {
  if (a.text || b.text) return a.text == b.text;
  return a.error->var_name == b.error->var_name && a.error->cause == b.error->cause &&
         a.error->raw_quoted == b.error->raw_quoted;
}

// The outcome with text put around a successful expansion.
Outcome around(Outcome outcome, std::string_view front, std::string_view back) {
  if (outcome.text) outcome.text = std::string(front) + *outcome.text + std::string(back);
  return outcome;
}

bool tilde_stands_for_home(std::string_view text) {
  return text.starts_with('~') && (text.size() == 1 || text[1] == '/' || text[1] == '\\');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  const Outcome expanded = expand(input, with_home);
  const Outcome without = expand(input, without_home);

  if (expanded.text.has_value() != without.text.has_value()) {
    fail("the home folder decides whether the expansion fails", input);
  }
  if (!expanded.text && !same(expanded, without))
    fail("the home folder changes the failure", input);
  if (expanded.text && *expanded.text != *without.text) {
    if (!input.starts_with('~') || !tilde_stands_for_home(*without.text) ||
        *expanded.text != std::string(home) + without.text->substr(1)) {
      fail("the home folder changes more than a leading ~", input);
    }
  }

  if (input.find('$') == std::string_view::npos) {
    if (!expanded.text) fail("a text with no $ failed", input);
    if (without.copied) fail("a text with nothing to replace was copied", input);
    if (tilde_stands_for_home(input) &&
        *expanded.text != std::string(home) + std::string(input.substr(1))) {
      fail("a leading ~ did not become the home", input);
    }
    if (!tilde_stands_for_home(input) && expanded.copied)
      fail("a text with nothing to replace was copied", input);
  }

  // Text in front hides a leading ~ and changes nothing else.
  if (!same(expand("/p" + std::string(input), with_home), around(without, "/p", ""))) {
    fail("text put in front changes the expansion of the rest", input);
  }
  // A plain tail can neither continue a name nor close a brace.
  if (!same(expand(std::string(input) + "/z", with_home), around(expanded, "", "/z"))) {
    fail("text put behind changes the expansion before it", input);
  }
  return 0;
}
