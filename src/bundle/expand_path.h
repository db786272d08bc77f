#pragma once
// Shell-like expansion of a written path: environment-variable references
// ($NAME, ${NAME}, ${NAME:-default}, $$) first, then a leading ~.

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "src/failure.h"
#include "src/platform/env.h"
#include "src/platform/platform.h"

namespace brelix {

struct LookupError {
  enum class Cause { not_present, not_unicode };
  // The variable's name exactly as written in the reference.
  std::string var_name;
  Cause cause = Cause::not_present;
  // For not_unicode: the raw value in quoted diagnostic form, quotes
  // included (see platform::EnvValue).
  std::string raw_quoted;

  // "environment variable not found", or "environment variable was not
  // valid unicode: " and the raw value.
  std::string cause_text() const;
  // "error looking key 'NAME' up: " and the cause's text.
  std::string message() const;
  // The failure the builds return: the message, with the cause's text as
  // its one cause.
  Failure to_failure() const;
};

// The expansion: either the input itself (when nothing was replaced, no
// copy is made) or a new text.
class ExpandedPath {
 public:
  explicit ExpandedPath(std::string_view unchanged) : value_(unchanged) {}
  explicit ExpandedPath(std::string replaced) : value_(std::move(replaced)) {}

  std::string_view view() const {
    return std::visit([](const auto& v) { return std::string_view(v); }, value_);
  }
  bool copied() const { return std::holds_alternative<std::string>(value_); }
  std::string to_string() const { return std::string(view()); }

 private:
  std::variant<std::string_view, std::string> value_;
};

// Where an expansion reads variables and the home directory from: an Env's
// (the process's own through default_env()), or a table a test controls
// (the process environment is shared by every test in the program, and a
// value that is not valid Unicode cannot be set portably).
struct PathEnvironment {
  std::function<platform::EnvValue(std::string_view name)> variable;
  // nullopt when the home folder is unknown or not valid Unicode.
  std::function<std::optional<std::string>()> home_directory;

  static const PathEnvironment& process();
  // Requires: env outlives the result.
  static PathEnvironment of(platform::Env& env);
};

// Requires: input outlives the result when nothing is replaced.
// No side effects; reads the environment and, only for a leading ~, the
// home directory. Fails with the first reference that cannot be resolved;
// nothing after it is looked at. Linear in the input and the values copied.
std::expected<ExpandedPath, LookupError> expand_path(std::string_view input);
std::expected<ExpandedPath, LookupError> expand_path(std::string_view input,
                                                     const PathEnvironment& environment);

}  // namespace brelix
