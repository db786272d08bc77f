#include "src/bundle/bundle_build.h"

namespace brelix {
namespace {

// The steps that only write the working files fail only as the system
// does; the report then names the run's folder they are in.
Result<> writing(Result<> step, const RunDirectory& directory) {
  if (step || !directory.path()) return step;
  return std::unexpected(with_action(std::move(step.error()), action_writing, *directory.path()));
}

}  // namespace

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
  if (!debug)
    return std::unexpected(with_action(std::move(debug.error()), action_writing, debug_path_));
  debug_ = std::move(*debug);
  if (Result<> begun = writing(begin(), directory_); !begun) return begun;

  if (Result<> printed = print_progress(env_, name, progress_concatenating); !printed)
    return printed;
  for (const std::string_view file : bundle_.files) {
    const Result<std::string> source = read_source(env_, file);
    if (!source) return std::unexpected(source.error());
    if (Result<> written = writing(concatenate(*source), directory_); !written) return written;
  }
  if (Result<> ended = writing(end_concatenation(), directory_); !ended) return ended;
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
      if (Result<> written = writing(append(*source), directory_); !written) return written;
    }
    if (Result<> printed = print_progress(env_, name, progress_appending_done); !printed)
      return printed;
  }

  if (Result<> ended = end_outputs(); !ended) return ended;

  if (!debug_only_) {
    if (Result<> finished = finish_working_file(env_, release_, release_path_); !finished)
      return finished;
  }
  if (Result<> finished = finish_working_file(env_, debug_, debug_path_, !debug_only_); !finished)
    return finished;
  if (Result<> same = directory_.check(); !same) return same;

  // Each companion goes into place before the outputs: each move is whole,
  // and a failure leaves the old outputs.
  for (const auto& [working, destination] : companions_) {
    if (Result<> moved = move_file(env_, working, destination); !moved) return moved;
  }
  if (Result<> moved = move_outputs(env_, debug_path_, release_path_, bundle_); !moved)
    return moved;

  return print_done(env_, name);
}

}  // namespace brelix
