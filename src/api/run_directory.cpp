#include "src/api/run_directory.h"

#include <array>
#include <optional>

#include "src/platform/platform.h"

namespace brelix {
namespace {

constexpr std::string_view undeterminable_message = "could not determine the temporary directory";

// Every name a build puts into the run's directory; removal takes these
// and nothing else.
constexpr std::array<std::string_view, 4> run_file_names = {"out-debug.js", "out.js", "out-debug.css", "out.css"};

// One per process: the builds of a run run one after the other on the main
// thread and share it.
std::optional<std::string>& current_directory() {
  static std::optional<std::string> directory;
  return directory;
}

std::string shared_unsafely(std::string_view directory) {
  return "the temporary directory " + std::string(directory) +
         " can be changed by other users (writable by all, without the sticky bit)";
}

Result<std::string> safe_temporary_directory(const std::string& temporary) {
  if (!platform::is_shared_unsafely(temporary)) {
    return temporary;
  }
  const std::optional<std::string> system = platform::system_temporary_directory();
  if (!system || *system == temporary || platform::is_shared_unsafely(*system)) {
    return fail(shared_unsafely(temporary));
  }
  (void)platform::write(platform::Stream::error,
                        "brelix: warning: " + shared_unsafely(temporary) + "; using " + *system + " instead\n");
  return *system;
}

}  // namespace

Result<> check_run_directory() {
  const std::optional<std::string>& directory = current_directory();
  if (directory && !platform::is_registered_directory(*directory)) {
    return fail("the run's temporary folder " + *directory + " was replaced while the run used it");
  }
  return {};
}

Result<std::string> run_file(std::string_view name) {
  std::optional<std::string>& directory = current_directory();
  if (!directory) {
    const std::optional<std::string> temporary = platform::temporary_directory();
    if (!temporary) {
      return fault(std::string(undeterminable_message));
    }
    Result<std::string> parent = safe_temporary_directory(*temporary);
    if (!parent) {
      return std::unexpected(std::move(parent.error()));
    }
    // Held so that an interruption finds the folder registered as soon as
    // it exists.
    const platform::InterruptionsHeld held;
    Result<std::string> made = platform::create_private_directory(*parent, run_directory_prefix);
    if (!made) {
      return std::unexpected(std::move(made.error()));
    }
    directory = std::move(*made);
    platform::remove_directory_on_interruption(*directory, run_file_names);
  }
  return platform::join_path(*directory, name);
}

void remove_run_directory() {
  std::optional<std::string>& directory = current_directory();
  if (!directory) {
    return;
  }
  // The run's outcome is already decided; a leftover that cannot be
  // removed is no reason to change it. The folder is emptied through the
  // handle the run holds on it, so that a folder swapped for a link to
  // someone else's loses nothing of theirs.
  platform::remove_registered_directory();
  directory.reset();
}

}  // namespace brelix
