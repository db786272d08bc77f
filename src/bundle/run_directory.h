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

#include <optional>
#include <string>
#include <string_view>

#include "src/failure.h"
#include "src/platform/env.h"

namespace brelix {

inline constexpr std::string_view run_directory_prefix = "brelix-";

// The run's directory, made on the first file asked of it and removed when
// the object goes, unless kept. One lives at a time: the interruption
// handler, which removes it too, knows one directory.
class RunDirectory {
 public:
  // Requires: env outlives the object.
  explicit RunDirectory(platform::Env& env) : env_(env) {}
  ~RunDirectory() { remove(); }
  RunDirectory(const RunDirectory&) = delete;
  RunDirectory& operator=(const RunDirectory&) = delete;

  // The path of the file `name` inside the run's directory, which is
  // created on the first call and reused by every later build. A temporary
  // directory the platform cannot determine is a fault (returned as one);
  // one that exists but refuses the new directory is an OS failure.
  //
  // A temporary directory that other users can write and that lacks the
  // sticky bit would let them swap the run's folder for their own while the
  // run uses it: the system's own temporary directory is used instead, with
  // a warning on standard error, and when that one is no better the run
  // fails.
  Result<std::string> file(std::string_view name);

  // For the builds, before they move their outputs into place: fails when
  // the run's folder is no longer the one the run made (something else was
  // put at its path), so that nothing from elsewhere reaches a destination.
  Result<> check() const;

  // The directory's path once it has been made.
  const std::optional<std::string>& path() const { return path_; }

  // Removes the run's directory and the outputs a failed build left in it;
  // does nothing when no build made one or it was kept. Nothing else in
  // the directory is touched; if something is, the directory stays. An
  // interruption of the run removes the directory in the same way.
  void remove();

  // After a fault: what was left stays to be looked at, also when the run
  // is interrupted now.
  void keep();

 private:
  platform::Env& env_;
  std::optional<std::string> path_;
};

}  // namespace brelix
