#include "src/bundle/run_directory.h"

#include <array>

#include "src/platform/platform.h"

namespace brelix {
namespace {

constexpr std::string_view undeterminable_message = "could not determine the temporary directory";

// Every name a build puts into the run's directory; removal takes these
// and nothing else.
constexpr std::array<std::string_view, 7> run_file_names = {
    "out-debug.js",     "out.js",     "out-debug.css",  "out.css",
    "out-debug.js.map", "out.js.map", "out.LICENSE.txt"};

std::string shared_unsafely(std::string_view directory) {
  return "the temporary directory " + std::string(directory) +
         " can be changed by other users (writable by all, without the sticky bit)";
}

Result<std::string> safe_temporary_directory(platform::Env& env, const std::string& temporary) {
  if (!env.is_shared_unsafely(temporary)) {
    return temporary;
  }
  const std::optional<std::string> system = env.system_temporary_directory();
  if (!system || *system == temporary || env.is_shared_unsafely(*system)) {
    return fail(shared_unsafely(temporary));
  }
  (void)env.write(platform::Stream::error, "brelix: warning: " + shared_unsafely(temporary) +
                                               "; using " + *system + " instead\n");
  return *system;
}

}  // namespace

Result<> RunDirectory::check() const {
  if (path_ && !platform::is_registered_directory(*path_)) {
    return fail("the run's temporary folder " + *path_ + " was replaced while the run used it");
  }
  return {};
}

Result<std::string> RunDirectory::file(std::string_view name) {
  if (!path_) {
    const std::optional<std::string> temporary = env_.temporary_directory();
    if (!temporary) {
      return fault(std::string(undeterminable_message));
    }
    Result<std::string> parent = safe_temporary_directory(env_, *temporary);
    if (!parent) {
      return std::unexpected(std::move(parent.error()));
    }
    // Held so that an interruption finds the folder registered as soon as
    // it exists.
    const platform::InterruptionsHeld held;
    Result<std::string> made = env_.create_private_directory(*parent, run_directory_prefix);
    if (!made) {
      return std::unexpected(std::move(made.error()));
    }
    path_ = std::move(*made);
    platform::remove_directory_on_interruption(*path_, run_file_names);
  }
  return platform::join_path(*path_, name);
}

void RunDirectory::remove() {
  if (!path_) {
    return;
  }
  // The run's outcome is already decided; a leftover that cannot be
  // removed is no reason to change it. The folder is emptied through the
  // handle the run holds on it, so that a folder swapped for a link to
  // someone else's loses nothing of theirs.
  platform::remove_registered_directory();
  path_.reset();
}

void RunDirectory::keep() {
  if (!path_) {
    return;
  }
  const platform::InterruptionsHeld held;
  platform::remove_directory_on_interruption({}, {});
  path_.reset();
}

}  // namespace brelix
