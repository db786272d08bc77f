#include "src/api/run_directory.h"

#include <array>
#include <optional>

#include "src/fault.h"
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

}  // namespace

Result<std::string> run_file(std::string_view name) {
  std::optional<std::string>& directory = current_directory();
  if (!directory) {
    const std::optional<std::string> temporary = platform::temporary_directory();
    if (!temporary) {
      fault(undeterminable_message);
    }
    Result<std::string> made = platform::create_private_directory(*temporary, run_directory_prefix);
    if (!made) {
      return std::unexpected(std::move(made.error()));
    }
    directory = std::move(*made);
  }
  return platform::join_path(*directory, name);
}

void remove_run_directory() {
  std::optional<std::string>& directory = current_directory();
  if (!directory) {
    return;
  }
  // The run's outcome is already decided; a leftover that cannot be
  // removed is no reason to change it.
  for (const std::string_view name : run_file_names) {
    const std::string path = platform::join_path(*directory, name);
    if (platform::exists(path)) {
      (void)platform::delete_file(path);
    }
  }
  (void)platform::remove_directory(*directory);
  directory.reset();
}

}  // namespace brelix
