#pragma once
// A failure is a value: what went wrong, as a message, plus the chain of
// causes that led to it. A fault travels the same way, marked as one, so
// that every way a run can end reaches the process entry, which alone turns
// it into the report and the exit status (1 for a failure, 101 for a fault).

#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace brelix {

struct Failure {
  std::string message;
  // Outermost first, as the report lists them under "Caused by:".
  std::vector<std::string> causes;
  // A fault stops the run without a failure report and leaves the run's
  // temporary files where they are; see fault.h.
  bool is_fault = false;
  // For a fault only: a line printed before the message, so that the
  // message line itself stays exactly as given.
  std::string hint;

  static Failure of(std::string message, std::vector<std::string> causes = {}) {
    return Failure{std::move(message), std::move(causes), false, {}};
  }
};

template <class T = void>
using Result = std::expected<T, Failure>;

inline std::unexpected<Failure> fail(std::string message, std::vector<std::string> causes = {}) {
  return std::unexpected(Failure::of(std::move(message), std::move(causes)));
}

// The fault with its message line and, if not empty, the hint before it.
// Requires: message holds no line feed of its own other than what the
// caller wants printed.
inline std::unexpected<Failure> fault(std::string message, std::string hint = {}) {
  return std::unexpected(Failure{std::move(message), {}, true, std::move(hint)});
}

// The failure with what the program was doing, and with which file or
// folder, when it came: one more cause at the end, the action, a space and
// the path ("reading source /src/app.js"). A system failure's message, its
// first report line, stays as the system gave it (scripts match it); a
// fault comes back unchanged, as its report has no causes.
Failure with_action(Failure failure, std::string_view action, std::string_view path);

// The failure report: "Error: " and the message, then, if there are causes,
// an empty line, "Caused by:" and one line per cause (indented by four
// spaces for a single cause, numbered in five columns for several), each
// continuation line indented to match, and a final line feed.
std::string format_failure_report(const Failure& failure);

}  // namespace brelix
