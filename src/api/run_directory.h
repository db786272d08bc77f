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
// directory the platform cannot determine is a fault; one that exists but
// refuses the new directory is an OS failure.
Result<std::string> run_file(std::string_view name);

// For the process entry, once the run has ended with success or with the
// failure report: removes the run's directory and the outputs a failed
// build left in it. Does nothing when no build made one. Not called after a
// fault, so what was left can be looked at. Nothing else in the directory
// is touched; if something is, the directory stays.
void remove_run_directory();

}  // namespace brelix
