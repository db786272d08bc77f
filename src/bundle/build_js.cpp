#include "src/bundle/build_js.h"

#include <array>
#include <optional>
#include <string>

#include "src/bundle/build_steps.h"
#include "src/bundle/importer_snippet.h"
#include "src/bundle/minify_cache.h"
#include "src/platform/platform.h"

namespace brelix {
namespace {

constexpr std::string_view debug_file_name = "out-debug.js";
constexpr std::string_view release_file_name = "out.js";

constexpr std::string_view minifier = "uglifyjs";

// The minifier reads the release file and writes its output over it; the
// build's own handles on that file stay open meanwhile, which the sharing
// of every handle allows.
std::array<std::string, 7> minifier_arguments(const std::string& release) {
  return {release, "-c", "toplevel", "-m", "toplevel", "-o", release};
}

// A minifier that did not finish its work must not let the unminified text
// ship as the release bundle, so its end is checked.
Result<> check_minifier_end(const Result<platform::ChildEnd>& end) {
  if (!end) {
    return fail("waiting for " + std::string(minifier) + " failed", {end.error().message});
  }
  if (end->signalled) {
    return fail(std::string(minifier) + " was killed by signal " + std::to_string(end->value));
  }
  if (end->value != 0) {
    return fail(std::string(minifier) + " exited with status " + std::to_string(end->value));
  }
  return {};
}

// True when the text holds nothing but white space and comments, for which
// an empty minified output is right. A comment left open is not blank: the
// minifier rejects it.
bool is_blank_javascript(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::string_view rest = text.substr(pos);
    if (rest.starts_with("//")) {
      const std::size_t end = rest.find_first_of("\n\r");
      pos = end == std::string_view::npos ? text.size() : pos + end;
    } else if (rest.starts_with("/*")) {
      const std::size_t end = rest.find("*/", 2);
      if (end == std::string_view::npos) return false;
      pos += end + 2;
    } else if (std::string_view(" \t\n\r\v\f").find(rest.front()) != std::string_view::npos) {
      ++pos;
    } else if (rest.starts_with("\xEF\xBB\xBF")) {
      pos += 3;
    } else {
      return false;
    }
  }
  return true;
}

// A minifier that reports success must have left its output: an empty or
// missing release file after a non-blank input would ship as the release
// bundle.
Result<> check_minifier_output(platform::Env& env, const std::string& release, bool input_blank) {
  const std::optional<std::uint64_t> size = env.regular_file_size(release);
  if (!size) {
    return fail(std::string(minifier) + " exited with status 0 but left no output file");
  }
  if (*size == 0 && !input_blank) {
    return fail(std::string(minifier) + " exited with status 0 but left its output empty");
  }
  return {};
}

Result<> write_to_both(platform::Env& env, platform::File& debug, platform::File& release, std::string_view bytes) {
  if (Result<> written = write_source(env, debug, bytes); !written) {
    return written;
  }
  return write_source(env, release, bytes);
}

}  // namespace

Result<> build_js(const Bundle& bundle, const BuildContext& context) {
  platform::Env& env = context.env;
  if (Result<> printed = print_progress(env, bundle.name, progress_start); !printed) return printed;

  const Result<std::string> debug_path = context.directory.file(debug_file_name);
  if (!debug_path) return std::unexpected(debug_path.error());
  const Result<std::string> release_path = context.directory.file(release_file_name);
  if (!release_path) return std::unexpected(release_path.error());

  // Only the debug file is cleared by deleting it; the release file is
  // truncated when opened. Declared in release order: on every way out the
  // child goes first, then the release handle, then the debug handle.
  Result<platform::File> debug = open_cleared_for_append(env, *debug_path);
  if (!debug) return std::unexpected(std::move(debug.error()));
  Result<platform::File> release = env.open_for_write(*release_path);
  if (!release) return std::unexpected(std::move(release.error()));
  platform::Child child;

  if (Result<> printed = print_progress(env, bundle.name, progress_concatenating); !printed) return printed;
  bool release_blank = !bundle.importer;
  for (const std::string_view file : bundle.files) {
    const Result<std::string> source = read_source(env, file);
    if (!source) return std::unexpected(source.error());
    if (Result<> written = write_to_both(env, *debug, *release, *source); !written) return written;
    release_blank = release_blank && is_blank_javascript(*source);
  }
  if (bundle.importer) {
    if (Result<> written = env.write_file(*debug, importer_snippet_debug); !written) return written;
    if (Result<> written = env.write_file(*release, importer_snippet_release); !written) return written;
  }
  if (Result<> printed = print_progress(env, bundle.name, progress_concatenating_done); !printed) return printed;
  if (Result<> printed = print_progress(env, bundle.name, progress_processing); !printed) return printed;
  // Complete on its storage before the minifier reads it.
  if (Result<> finished = finish_working_file(env, *release, *release_path); !finished) return finished;

  const std::array<std::string, 7> arguments = minifier_arguments(*release_path);
  // Every check of the minifier's result belongs in here: the cache stores
  // what a run that returned success left in the release file.
  const auto run_minifier = [&]() -> Result<> {
    Result<platform::Child> started = env.start_command(minifier, arguments);
    if (!started) {
      return fail(std::string(minifier) + " could not be started", {started.error().message});
    }
    child = std::move(*started);
    if (Result<> ended = check_minifier_end(env.wait(child)); !ended) return ended;
    return check_minifier_output(env, *release_path, release_blank);
  };
  if (Result<> minified = minify_through_cache(env, bundle.name, *release_path, minifier, arguments, run_minifier);
      !minified) {
    return minified;
  }

  // A second handle, opened after the minifier, so that the extras land
  // after whatever the minifier left in the release file; it also syncs
  // what the minifier wrote.
  Result<platform::File> appended = env.open_for_append(*release_path);
  if (!appended) return std::unexpected(std::move(appended.error()));
  if (bundle.append_extra) {
    if (Result<> printed = print_progress(env, bundle.name, progress_appending); !printed) return printed;
    for (const std::string_view file : bundle.extra) {
      const Result<std::string> source = read_source(env, file);
      if (!source) return std::unexpected(source.error());
      if (Result<> written = write_to_both(env, *debug, *appended, *source); !written) return written;
    }
    if (Result<> printed = print_progress(env, bundle.name, progress_appending_done); !printed) return printed;
  }
  if (Result<> finished = finish_working_file(env, *appended, *release_path); !finished) return finished;
  if (Result<> finished = finish_working_file(env, *debug, *debug_path); !finished) return finished;
  if (Result<> same = context.directory.check(); !same) return same;

  if (Result<> moved = move_outputs(env, *debug_path, *release_path, bundle); !moved) return moved;

  if (Result<> printed = print_done(env, bundle.name); !printed) return printed;

  child = platform::Child();
  return {};
}

}  // namespace brelix
