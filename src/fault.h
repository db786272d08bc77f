#pragma once
// A fault stops the run at once: its message goes to standard error on a
// line of its own and the process ends with exit status 101. No failure
// report is written and temporary files stay where they are, so that what
// was left can be looked at. Faults are made with fault() (failure.h) and
// returned like every failure; only the process entry prints one.

#include <string>

#include "src/failure.h"

namespace brelix {

inline constexpr int fault_exit_status = 101;

// What a fault prints on standard error: the hint's line, if there is a
// hint, then the message's line. Requires: failure.is_fault.
std::string format_fault(const Failure& failure);

}  // namespace brelix
