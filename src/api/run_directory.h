#pragma once
// The directory private to one run of the program, in which the builds
// assemble their outputs ("out-debug.js", "out.js", "out-debug.css",
// "out.css") before moving them to their destinations.
//
// A fixed file name directly in the shared temporary directory could be a
// file or link planted there by another user, and two runs at once would
// overwrite each other's outputs. So each run makes a directory of its own,
// fresh and exclusively, readable by its owner only, named "brelix-" and
// random characters, inside the platform's temporary directory.

#include <string>
#include <string_view>

#include "src/failure.h"

namespace brelix {

inline constexpr std::string_view run_directory_prefix = "brelix-";

// The path of the file `name` inside the run's directory, which is created
// on the first call of the run and reused by every later build. A temporary
// directory the platform cannot determine is a fault (returned as one); one
// that exists but refuses the new directory is an OS failure.
//
// A temporary directory that other users can write and that lacks the
// sticky bit would let them swap the run's folder for their own while the
// run uses it: the system's own temporary directory is used instead, with a
// warning on standard error, and when that one is no better the run fails.
Result<std::string> run_file(std::string_view name);

// For the builds, before they move their outputs into place: fails when
// the run's folder is no longer the one the run made (something else was
// put at its path), so that nothing from elsewhere reaches a destination.
Result<> check_run_directory();

// For the process entry, once the run has ended with success or with the
// failure report: removes the run's directory and the outputs a failed
// build left in it. Does nothing when no build made one. Not called after a
// fault, so what was left can be looked at. Nothing else in the directory
// is touched; if something is, the directory stays. An interruption of the
// run removes the directory in the same way.
void remove_run_directory();

}  // namespace brelix
