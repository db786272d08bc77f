#include "src/api/build_steps.h"

#include "src/api/expand_path.h"
#include "src/fault.h"

namespace brelix {
namespace {

constexpr std::string_view progress_write_failed = "could not write a progress line to standard output";

// The copy's temporary file starts with a dot so that listings and globs
// of the destination's directory pass over it while it exists.
constexpr std::string_view copy_prefix = ".brelix-move-";

void write_line(std::string_view line) {
  if (!platform::write(platform::Stream::output, line)) {
    fault(progress_write_failed);
  }
}

Result<> copy_then_rename(std::string_view from, std::string_view to, const RenameFunction& rename) {
  Result<std::string> content = platform::read_whole(from);
  if (!content) {
    return std::unexpected(std::move(content.error()));
  }
  auto created = platform::create_unique_file(platform::parent_directory(to), copy_prefix);
  if (!created) {
    return std::unexpected(std::move(created.error()));
  }
  auto& [file, temporary] = *created;
  Result<> written = file.write_all(*content);
  file.close();
  if (written) {
    if (auto renamed = rename(temporary, to); !renamed) {
      written = std::unexpected(std::move(renamed.error().failure));
    }
  }
  if (!written) {
    (void)platform::delete_file(temporary);
    return written;
  }
  // The destination is complete; a source that stays behind is in the
  // run's own directory, which goes at the end of the run.
  (void)platform::delete_file(from);
  return {};
}

}  // namespace

void print_progress(std::string_view name, std::string_view suffix) {
  std::string line;
  line.reserve(name.size() + suffix.size() + 1);
  line.append(name);
  line.append(suffix);
  line.push_back('\n');
  write_line(line);
}

void print_done(std::string_view name) {
  print_progress(name, progress_done);
  write_line("\n");
}

Result<std::string> read_source(std::string_view written_path) {
  const auto expanded = expand_path(written_path);
  if (!expanded) {
    return std::unexpected(expanded.error().to_failure());
  }
  return platform::read_whole(expanded->view());
}

bool needs_line_feed(std::string_view bytes) { return !bytes.empty() && bytes.back() != '\n'; }

Result<> write_source(platform::File& file, std::string_view bytes) {
  if (Result<> written = file.write_all(bytes); !written) {
    return written;
  }
  if (needs_line_feed(bytes)) {
    return file.write_all("\n");
  }
  return {};
}

Result<> move_file(std::string_view from, std::string_view to, const RenameFunction& rename) {
  auto renamed = rename(from, to);
  if (renamed) {
    return {};
  }
  if (!renamed.error().cross_device) {
    return std::unexpected(std::move(renamed.error().failure));
  }
  return copy_then_rename(from, to, rename);
}

Result<platform::File> open_cleared_for_append(const std::string& path) {
  if (platform::exists(path)) {
    if (Result<> deleted = platform::delete_file(path); !deleted) return std::unexpected(std::move(deleted.error()));
  }
  return platform::open_for_append(path);
}

}  // namespace brelix
