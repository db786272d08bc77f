#include "src/api/build_js.h"

#include <array>
#include <string>

#include "src/api/build_steps.h"
#include "src/api/importer_snippet.h"
#include "src/api/minify_cache.h"
#include "src/api/run_directory.h"
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

Result<> write_to_both(platform::File& debug, platform::File& release, std::string_view bytes) {
  if (Result<> written = write_source(debug, bytes); !written) {
    return written;
  }
  return write_source(release, bytes);
}

}  // namespace

Result<> build_js(const Bundle& bundle) {
  print_progress(bundle.name, progress_start);

  const Result<std::string> debug_path = run_file(debug_file_name);
  if (!debug_path) return std::unexpected(debug_path.error());
  const Result<std::string> release_path = run_file(release_file_name);
  if (!release_path) return std::unexpected(release_path.error());

  // Only the debug file is cleared by deleting it; the release file is
  // truncated when opened. Declared in release order: on every way out the
  // child goes first, then the release handle, then the debug handle.
  Result<platform::File> debug = open_cleared_for_append(*debug_path);
  if (!debug) return std::unexpected(std::move(debug.error()));
  Result<platform::File> release = platform::open_for_write(*release_path);
  if (!release) return std::unexpected(std::move(release.error()));
  platform::Child child;

  print_progress(bundle.name, progress_concatenating);
  for (const std::string_view file : bundle.files) {
    const Result<std::string> source = read_source(file);
    if (!source) return std::unexpected(source.error());
    if (Result<> written = write_to_both(*debug, *release, *source); !written) return written;
  }
  if (bundle.importer) {
    if (Result<> written = debug->write_all(importer_snippet_debug); !written) return written;
    if (Result<> written = release->write_all(importer_snippet_release); !written) return written;
  }
  print_progress(bundle.name, progress_concatenating_done);
  print_progress(bundle.name, progress_processing);

  const std::array<std::string, 7> arguments = minifier_arguments(*release_path);
  // Every check of the minifier's result belongs in here: the cache stores
  // what a run that returned success left in the release file.
  const auto run_minifier = [&]() -> Result<> {
    Result<platform::Child> started = platform::start_command(minifier, arguments);
    if (!started) {
      return fail(std::string(minifier) + " could not be started", {started.error().message});
    }
    child = std::move(*started);
    return check_minifier_end(child.wait());
  };
  if (Result<> minified = minify_through_cache(bundle.name, *release_path, minifier, arguments, run_minifier);
      !minified) {
    return minified;
  }

  if (bundle.append_extra) {
    print_progress(bundle.name, progress_appending);
    // A second handle, opened after the minifier, so that the extras land
    // after whatever the minifier left in the release file.
    Result<platform::File> appended = platform::open_for_append(*release_path);
    if (!appended) return std::unexpected(std::move(appended.error()));
    for (const std::string_view file : bundle.extra) {
      const Result<std::string> source = read_source(file);
      if (!source) return std::unexpected(source.error());
      if (Result<> written = write_to_both(*debug, *appended, *source); !written) return written;
    }
    print_progress(bundle.name, progress_appending_done);
    appended->close();
  }

  if (Result<> moved = move_file(*debug_path, bundle.out_debug); !moved) return moved;
  if (Result<> moved = move_file(*release_path, bundle.out); !moved) return moved;

  print_done(bundle.name);

  child = platform::Child();
  release->close();
  debug->close();
  return {};
}

}  // namespace brelix
