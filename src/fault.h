#pragma once
// A fault stops the run at once: its message goes to standard error on a
// line of its own and the process ends with exit status 101. No failure
// report is written and temporary files stay where they are, so that what
// was left can be looked at.

#include <string_view>

namespace brelix {

inline constexpr int fault_exit_status = 101;

// Requires: message holds no line feed of its own other than what the
// caller wants printed. The hint, if given, is printed on the line before
// the message so that the message line stays exactly as given.
[[noreturn]] void fault(std::string_view message, std::string_view hint = {});

}  // namespace brelix
