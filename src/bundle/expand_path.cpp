#include "src/bundle/expand_path.h"

#include <utility>

#include "unicode/properties.h"
#include "unicode/utf8.h"

namespace brelix {
namespace {

constexpr std::string_view lookup_prefix = "error looking key '";
constexpr std::string_view lookup_infix = "' up: ";
constexpr std::string_view not_found_text = "environment variable not found";
constexpr std::string_view not_unicode_text = "environment variable was not valid unicode: ";

bool is_name_character(char32_t c) {
  return c == U'_' || unicode::is_alphanumeric(c);
}

// The end of the longest run of name characters starting at pos. Bytes that
// are not valid UTF-8 decode to U+FFFD, which is no name character.
std::size_t name_end(std::string_view text, std::size_t pos) {
  while (pos < text.size()) {
    std::size_t next = pos;
    if (!is_name_character(unicode::decode_next(text, next))) {
      break;
    }
    pos = next;
  }
  return pos;
}

// The home directory followed by everything after the ~, when the text
// begins with a ~ that stands for the current user's home and that home is
// known; nullopt otherwise.
std::optional<std::string> apply_tilde(std::string_view text, const PathEnvironment& environment) {
  if (text.empty() || text[0] != '~') {
    return std::nullopt;
  }
  if (text.size() > 1 && text[1] != '/' && text[1] != '\\') {
    return std::nullopt;  // ~user is left to whoever reads the path
  }
  std::optional<std::string> home = environment.home_directory();
  if (!home) {
    return std::nullopt;
  }
  home->append(text.substr(1));
  return home;
}

std::optional<LookupError> to_lookup_error(std::string_view name, platform::EnvValue& found) {
  switch (found.state) {
    case platform::EnvValue::State::present:
      return std::nullopt;
    case platform::EnvValue::State::not_present:
      return LookupError{std::string(name), LookupError::Cause::not_present, {}};
    case platform::EnvValue::State::not_unicode:
      return LookupError{std::string(name), LookupError::Cause::not_unicode,
                         std::move(found.raw_quoted)};
  }
  return LookupError{std::string(name), LookupError::Cause::not_present, {}};
}

// Phase 1. The new text is started only at the first real replacement, so
// that an input whose `$`s all stay as they are is not copied either; the
// tilde phase cannot tell the difference, since the text is the same.
class VariableExpander {
 public:
  VariableExpander(std::string_view input, const PathEnvironment& environment)
      : input_(input), environment_(environment) {}

  // Returns the error of the first reference that cannot be resolved.
  std::optional<LookupError> expand() {
    std::size_t pos = input_.find('$');
    while (pos != std::string_view::npos) {
      std::optional<LookupError> error = expand_at(pos);
      if (error) {
        return error;
      }
      pos = input_.find('$', pos);
    }
    if (replaced_) {
      out_.append(input_.substr(copied_until_));
    }
    return std::nullopt;
  }

  bool replaced() const { return replaced_; }
  std::string take() { return std::move(out_); }

 private:
  // Handles the `$` at pos and moves pos past what it consumed.
  std::optional<LookupError> expand_at(std::size_t& pos) {
    const std::size_t after = pos + 1;
    if (after < input_.size() && input_[after] == '{') {
      return expand_braced(pos);
    }
    const std::size_t end = after < input_.size() ? name_end(input_, after) : after;
    if (end > after) {
      const std::string_view name = input_.substr(after, end - after);
      platform::EnvValue found = environment_.variable(name);
      if (std::optional<LookupError> error = to_lookup_error(name, found)) {
        return error;
      }
      replace(pos, end, found.value);
      pos = end;
      return std::nullopt;
    }
    if (after < input_.size() && input_[after] == '$') {
      replace(pos, after + 1, "$");
      pos = after + 1;
      return std::nullopt;
    }
    pos = after;  // a `$` that starts nothing stays as it is
    return std::nullopt;
  }

  std::optional<LookupError> expand_braced(std::size_t& pos) {
    const std::size_t open = pos + 1;
    // Once no `}` is left, none will be found from any later `${` either;
    // remembering that keeps a path full of unclosed `${` linear.
    const std::size_t close = no_close_left_ ? std::string_view::npos : input_.find('}', open + 1);
    if (close == std::string_view::npos) {
      no_close_left_ = true;
      pos = open + 1;  // `${` copied; scanning goes on after it
      return std::nullopt;
    }
    const std::string_view inside = input_.substr(open + 1, close - open - 1);
    std::string_view name = inside;
    std::optional<std::string_view> fallback;
    const std::size_t separator = inside.find(":-");
    // A leading ":-" is part of the name, not an empty name with a default.
    if (separator != std::string_view::npos && separator != 0) {
      name = inside.substr(0, separator);
      fallback = inside.substr(separator + 2);
    }
    platform::EnvValue found = environment_.variable(name);
    if (std::optional<LookupError> error = to_lookup_error(name, found)) {
      if (!fallback) {
        return error;
      }
      replace(pos, close + 1, *fallback);  // the default is taken as written
    } else {
      replace(pos, close + 1, found.value);
    }
    pos = close + 1;
    return std::nullopt;
  }

  // Puts text in place of input_[begin, end).
  void replace(std::size_t begin, std::size_t end, std::string_view text) {
    if (!replaced_) {
      out_.reserve(input_.size());
      replaced_ = true;
    }
    out_.append(input_.substr(copied_until_, begin - copied_until_));
    out_.append(text);
    copied_until_ = end;
  }

  std::string_view input_;
  const PathEnvironment& environment_;
  std::string out_;
  std::size_t copied_until_ = 0;
  bool replaced_ = false;
  bool no_close_left_ = false;
};

}  // namespace

std::string LookupError::cause_text() const {
  if (cause == Cause::not_present) {
    return std::string(not_found_text);
  }
  std::string text(not_unicode_text);
  text.append(raw_quoted);
  return text;
}

std::string LookupError::message() const {
  std::string text(lookup_prefix);
  text.append(var_name);
  text.append(lookup_infix);
  text.append(cause_text());
  return text;
}

Failure LookupError::to_failure() const {
  return Failure::of(message(), {cause_text()});
}

PathEnvironment PathEnvironment::of(platform::Env& env) {
  return PathEnvironment{
      [&env](std::string_view name) { return env.environment_variable(name); },
      [&env] { return env.home_directory(); },
  };
}

const PathEnvironment& PathEnvironment::process() {
  static const PathEnvironment environment = of(platform::default_env());
  return environment;
}

std::expected<ExpandedPath, LookupError> expand_path(std::string_view input) {
  return expand_path(input, PathEnvironment::process());
}

std::expected<ExpandedPath, LookupError> expand_path(std::string_view input,
                                                     const PathEnvironment& environment) {
  VariableExpander variables(input, environment);
  if (std::optional<LookupError> error = variables.expand()) {
    return std::unexpected(std::move(*error));
  }
  if (!variables.replaced()) {
    if (std::optional<std::string> with_home = apply_tilde(input, environment)) {
      return ExpandedPath(std::move(*with_home));
    }
    return ExpandedPath(input);
  }
  std::string expanded = variables.take();
  const bool tilde_from_value = !input.starts_with('~') && expanded.starts_with('~');
  if (!tilde_from_value) {
    if (std::optional<std::string> with_home = apply_tilde(expanded, environment)) {
      return ExpandedPath(std::move(*with_home));
    }
  }
  return ExpandedPath(std::move(expanded));
}

}  // namespace brelix
