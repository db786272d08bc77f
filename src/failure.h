#pragma once
// A failure is a value: what went wrong, as a message, plus the chain of
// causes that led to it. Only the process entry turns one into the failure
// report and exit status 1.

#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace brelix {

struct Failure {
  std::string message;
  // Outermost first, as the report lists them under "Caused by:".
  std::vector<std::string> causes;

  static Failure of(std::string message, std::vector<std::string> causes = {}) {
    return Failure{std::move(message), std::move(causes)};
  }
};

template <class T = void>
using Result = std::expected<T, Failure>;

inline std::unexpected<Failure> fail(std::string message, std::vector<std::string> causes = {}) {
  return std::unexpected(Failure::of(std::move(message), std::move(causes)));
}

// The failure report: "Error: " and the message, then, if there are causes,
// an empty line, "Caused by:" and one line per cause (indented by four
// spaces for a single cause, numbered in five columns for several), each
// continuation line indented to match, and a final line feed.
std::string format_failure_report(const Failure& failure);

}  // namespace brelix
