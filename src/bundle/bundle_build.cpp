#include "src/bundle/bundle_build.h"

namespace brelix {

Result<> BundleBuild::run() {
  const std::string_view name = bundle_.name;
  if (Result<> printed = print_progress(env_, name, progress_start); !printed) return printed;
  debug_only_ = switched_on(env_, debug_only_variable);
  // A destination that cannot take its output is known before the long
  // work, not after it.
  if (Result<> usable = check_destination_folders(env_, bundle_, !debug_only_); !usable)
    return usable;

  Result<std::string> debug_path = directory_.file(debug_name_);
  if (!debug_path) return std::unexpected(std::move(debug_path.error()));
  debug_path_ = std::move(*debug_path);
  if (!debug_only_) {
    Result<std::string> release_path = directory_.file(release_name_);
    if (!release_path) return std::unexpected(std::move(release_path.error()));
    release_path_ = std::move(*release_path);
  }

  Result<platform::File> debug = open_cleared_for_append(env_, debug_path_);
  if (!debug) return std::unexpected(std::move(debug.error()));
  debug_ = std::move(*debug);
  if (Result<> begun = begin(); !begun) return begun;

  if (Result<> printed = print_progress(env_, name, progress_concatenating); !printed)
    return printed;
  for (const std::string_view file : bundle_.files) {
    const Result<std::string> source = read_source(env_, file);
    if (!source) return std::unexpected(source.error());
    if (Result<> written = concatenate(*source); !written) return written;
  }
  if (Result<> ended = end_concatenation(); !ended) return ended;
  if (Result<> printed = print_progress(env_, name, progress_concatenating_done); !printed)
    return printed;

  if (!debug_only_) {
    if (Result<> ready = before_processing(); !ready) return ready;
  }
  if (Result<> printed = print_progress(env_, name, progress_processing); !printed) return printed;
  if (debug_only_) {
    if (Result<> printed = print_progress(env_, name, progress_release_not_rebuilt); !printed)
      return printed;
  } else if (Result<> processed = process(); !processed) {
    return processed;
  }

  if (bundle_.append_extra) {
    if (Result<> printed = print_progress(env_, name, progress_appending); !printed) return printed;
    for (const std::string_view file : bundle_.extra) {
      const Result<std::string> source = read_source(env_, file);
      if (!source) return std::unexpected(source.error());
      if (Result<> written = append(*source); !written) return written;
    }
    if (Result<> printed = print_progress(env_, name, progress_appending_done); !printed)
      return printed;
  }

  if (!debug_only_) {
    if (Result<> finished = finish_working_file(env_, release_, release_path_); !finished)
      return finished;
  }
  if (Result<> finished = finish_working_file(env_, debug_, debug_path_, !debug_only_); !finished)
    return finished;
  if (Result<> same = directory_.check(); !same) return same;

  if (Result<> moved = move_outputs(env_, debug_path_, release_path_, bundle_); !moved)
    return moved;

  return print_done(env_, name);
}

}  // namespace brelix
