#include "src/bundle/build_steps.h"

#include "src/bundle/expand_path.h"

namespace brelix {
namespace {

// The copy's temporary file starts with a dot so that listings and globs
// of the destination's directory pass over it while it exists.
constexpr std::string_view copy_prefix = ".brelix-move-";
// A copy exists for the milliseconds of one move; one this old was left by
// a run that was killed outright.
constexpr std::int64_t stale_copy_seconds = std::int64_t{60} * 60;

Result<> write_line(platform::Env& env, std::string_view line) {
  if (!env.write(platform::Stream::output, line)) {
    return fault(std::string(progress_write_failed));
  }
  return {};
}

// The system's failures of the copy name the destination; a sync that
// fails names the copy, as a working file's does.
Result<> copy_then_rename(platform::Env& env, std::string_view from, std::string_view to) {
  const auto moving = [&](Failure failure) {
    return std::unexpected(with_action(std::move(failure), action_moving, to));
  };
  Result<std::string> content = env.read_whole(from);
  if (!content) {
    return moving(std::move(content.error()));
  }
  Result<std::pair<platform::File, std::string>> created;
  {
    const platform::InterruptionsHeld held;
    created = env.create_unique_file(platform::parent_directory(to), copy_prefix);
    if (!created) {
      return moving(std::move(created.error()));
    }
    platform::remove_on_interruption(created->second);
  }
  auto& [file, temporary] = *created;
  Result<> written = env.write_file(file, *content);
  if (!written) {
    written = moving(std::move(written.error()));
  } else {
    written = finish_working_file(env, file, temporary);
  }
  file.close();
  if (written) {
    if (auto renamed = env.rename_file(temporary, to); !renamed) {
      written = moving(std::move(renamed.error().failure));
    }
  }
  if (!written) {
    (void)env.delete_file(temporary);
    platform::remove_on_interruption({});
    return written;
  }
  platform::remove_on_interruption({});
  // The destination is complete; a source that stays behind is in the
  // run's own directory, which goes at the end of the run.
  (void)env.delete_file(from);
  return {};
}

// True when the file at to is a regular file (links followed) with exactly
// the bytes of the finished file at from. Anything that cannot be read is
// taken as different, so the move goes ahead as it would without the
// switch.
bool same_bytes(platform::Env& env, std::string_view from, std::string_view to) {
  const std::optional<std::uint64_t> size = env.regular_file_size(to);
  if (!size || size != env.regular_file_size(from)) return false;
  const auto old_bytes = env.read_regular_file(to);
  const auto new_bytes = env.read_regular_file(from);
  return old_bytes && new_bytes && *old_bytes == *new_bytes;
}

Result<> place_output(platform::Env& env, std::string_view from, std::string_view to,
                      bool keep_unchanged) {
  if (keep_unchanged && same_bytes(env, from, to)) {
    // A working file that stays is in the run's own folder, which goes at
    // the end of the run.
    (void)env.delete_file(from);
    return {};
  }
  return move_file(env, from, to);
}

}  // namespace

Result<> print_progress(platform::Env& env, std::string_view name, std::string_view suffix) {
  std::string line;
  line.reserve(name.size() + suffix.size() + 1);
  line.append(name);
  line.append(suffix);
  line.push_back('\n');
  return write_line(env, line);
}

Result<> print_done(platform::Env& env, std::string_view name) {
  if (Result<> printed = print_progress(env, name, progress_done); !printed) return printed;
  return write_line(env, "\n");
}

Result<std::string> read_source(platform::Env& env, std::string_view written_path) {
  const auto expanded = expand_path(written_path, PathEnvironment::of(env));
  if (!expanded) {
    return std::unexpected(expanded.error().to_failure());
  }
  auto content = env.read_regular_file(expanded->view());
  if (content) {
    return std::move(*content);
  }
  switch (content.error().kind) {
    case platform::SourceFailure::Kind::not_regular:
      return fail("the source " + std::string(expanded->view()) + " is not a regular file");
    case platform::SourceFailure::Kind::too_large:
      return fail("the source " + std::string(expanded->view()) +
                  " is too large to be read into memory");
    case platform::SourceFailure::Kind::os:
      break;
  }
  return std::unexpected(
      with_action(std::move(content.error().failure), action_reading_source, expanded->view()));
}

Result<> finish_working_file(platform::Env& env, platform::File& file, std::string_view path,
                             bool durable) {
  if (Result<> finished = durable ? env.sync_and_close(file) : env.close_file(file); !finished) {
    return fail("could not finish writing " + std::string(path), {finished.error().message});
  }
  return {};
}

bool needs_line_feed(std::string_view bytes) {
  return !bytes.empty() && bytes.back() != '\n';
}

Result<> write_source(platform::Env& env, platform::File& file, std::string_view bytes) {
  if (Result<> written = env.write_file(file, bytes); !written) {
    return written;
  }
  if (needs_line_feed(bytes)) {
    return env.write_file(file, "\n");
  }
  return {};
}

Result<> move_file(platform::Env& env, std::string_view from, std::string_view to) {
  env.remove_stale_files(platform::parent_directory(to), copy_prefix, stale_copy_seconds);
  auto renamed = env.rename_file(from, to);
  if (!renamed) {
    if (!renamed.error().cross_device) {
      return std::unexpected(with_action(std::move(renamed.error().failure), action_moving, to));
    }
    return copy_then_rename(env, from, to);
  }
  return {};
}

Result<> move_outputs(platform::Env& env, const std::string& debug, const std::string& release,
                      const Bundle& bundle) {
  const bool keep_unchanged = switched_on(env, keep_unchanged_variable);
  Result<> moved = place_output(env, debug, bundle.out_debug, keep_unchanged);
  if (moved && !release.empty()) {
    moved = place_output(env, release, bundle.out, keep_unchanged);
  }
  // Once per folder: a folder's sync makes every rename into it durable.
  const std::string debug_folder = platform::parent_directory(bundle.out_debug);
  const std::string release_folder = platform::parent_directory(bundle.out);
  env.sync_directory(debug_folder);
  if (!release.empty() && release_folder != debug_folder) {
    env.sync_directory(release_folder);
  }
  return moved;
}

bool switched_on(platform::Env& env, std::string_view variable) {
  const platform::EnvValue value = env.environment_variable(variable);
  return value.state == platform::EnvValue::State::present && value.value == "1";
}

Result<> check_destination_folders(platform::Env& env, const Bundle& bundle, bool release_too) {
  const auto check = [&](const std::string& folder) -> Result<> {
    Result<> usable = env.check_folder_writable(folder);
    if (!usable) usable.error().causes.push_back(std::string(destination_folder_cause) + folder);
    return usable;
  };
  // In the order of the moves, so the failure is the one the first of
  // them would meet.
  const std::string debug_folder = platform::parent_directory(bundle.out_debug);
  if (Result<> usable = check(debug_folder); !usable) return usable;
  const std::string release_folder = platform::parent_directory(bundle.out);
  if (!release_too || release_folder == debug_folder) return {};
  return check(release_folder);
}

Result<platform::File> open_cleared_for_append(platform::Env& env, const std::string& path) {
  if (env.exists(path)) {
    if (Result<> deleted = env.delete_file(path); !deleted)
      return std::unexpected(std::move(deleted.error()));
  }
  return env.open_for_append(path);
}

}  // namespace brelix
