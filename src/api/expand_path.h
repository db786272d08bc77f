#pragma once
// Shell-like expansion of a written path: environment-variable references
// ($NAME, ${NAME}, ${NAME:-default}, $$) first, then a leading ~.

#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include "src/failure.h"

namespace brelix {

struct LookupError {
  enum class Cause { not_present, not_unicode };
  // The variable's name exactly as written in the reference.
  std::string var_name;
  Cause cause = Cause::not_present;
  // For not_unicode: the raw value in quoted diagnostic form.
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

// Requires: input outlives the result when nothing is replaced.
// No side effects; reads the environment and, for a leading ~, the home
// directory.
std::expected<ExpandedPath, LookupError> expand_path(std::string_view input);

}  // namespace brelix
