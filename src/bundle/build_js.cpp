#include "src/bundle/build_js.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "src/bundle/build_steps.h"
#include "src/bundle/bundle_build.h"
#include "src/bundle/expand_path.h"
#include "src/bundle/importer_snippet.h"
#include "src/bundle/legal_comments.h"
#include "src/bundle/minifier_clock.h"
#include "src/bundle/minifier_report.h"
#include "src/bundle/minify_cache.h"
#include "src/bundle/source_lines.h"
#include "src/bundle/source_map.h"
#include "src/platform/platform.h"

namespace brelix {
namespace {

constexpr std::string_view debug_file_name = "out-debug.js";
constexpr std::string_view release_file_name = "out.js";

constexpr std::string_view minifier = "uglifyjs";

// The minifier reads the release file and writes its output over it; the
// build's own handles on that file stay open meanwhile, which the sharing
// of every handle allows.
// With maps, it also writes the map of its output to the release file's
// name and ".map", and, as no url is given, adds no comment to the code.
std::vector<std::string> minifier_arguments(const std::string& release, bool map) {
  std::vector<std::string> arguments = {release, "-c", "toplevel", "-m", "toplevel", "-o", release};
  if (map) arguments.emplace_back("--source-map");
  return arguments;
}

// The last segment of a path, either separator.
std::string_view file_name(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
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

// The JavaScript build's own steps: the release file gets the sources as
// the debug file does, then the importer snippet; the minifier rewrites it
// in place; the extras follow on both.
class JsBuild final : public BundleBuild {
 public:
  JsBuild(const Bundle& bundle, const BuildContext& context)
      : BundleBuild(bundle, context, debug_file_name, release_file_name) {}

 private:
  // Only the debug file is cleared by deleting it; the release file is
  // truncated when opened.
  Result<> begin() override {
    Result<SourceMapSettings> maps = source_map_settings(env_);
    if (!maps) return std::unexpected(std::move(maps.error()));
    maps_ = std::move(*maps);
    Result<LegalComments> legal = legal_comments_mode(env_);
    if (!legal) return std::unexpected(std::move(legal.error()));
    legal_ = *legal;
    if (debug_only_) return {};
    Result<platform::File> release = env_.open_for_write(release_path_);
    if (!release) return std::unexpected(std::move(release.error()));
    release_ = std::move(*release);
    return {};
  }

  Result<> concatenate(std::string_view source) override {
    release_blank_ = release_blank_ && is_blank_javascript(source);
    // The skeleton hands the sources over in the list's order.
    source_lines_.add(bundle_.files[source_lines_.size()], source);
    if (maps_.contents) contents_.emplace_back(source);
    if (legal_ != LegalComments::none) notices_.add(source);
    return write_to_both(source);
  }

  Result<> end_concatenation() override {
    if (!bundle_.importer) return {};
    if (Result<> written = env_.write_file(debug_, importer_snippet_debug); !written)
      return written;
    if (debug_only_) return {};
    return env_.write_file(release_, importer_snippet_release);
  }

  Result<> process() override {
    // Complete on its storage before the minifier reads it.
    if (Result<> finished = finish_working_file(env_, release_, release_path_); !finished)
      return finished;
    const bool mapped = maps_.mode != SourceMapMode::off;
    const std::vector<std::string> arguments = minifier_arguments(release_path_, mapped);
    std::vector<std::string> companions;
    if (mapped) {
      Result<std::string> map = directory_.file(std::string(release_file_name) + ".map");
      if (!map) return std::unexpected(std::move(map.error()));
      companions.push_back(std::move(*map));
    }
    // Every check of the minifier's result belongs in here: the cache
    // stores what a run that returned success left in the release file.
    const auto run_minifier = [&]() -> Result<> {
      MinifierClock clock(env_, bundle_.name);
      Result<platform::PipedChild> started =
          env_.start_command_with_error_pipe(minifier, arguments);
      if (!started) {
        return fail(std::string(minifier) + " could not be started", {started.error().message});
      }
      child_ = std::move(started->child);
      clock.start();
      Result<> relayed = relay_minifier_errors(started->error, release_path_, source_lines_,
                                               [&](std::string_view bytes) { clock.print(bytes); });
      clock.stop();
      if (!relayed) {
        return fail("reading the standard error of " + std::string(minifier) + " failed",
                    {relayed.error().message});
      }
      if (Result<> ended = check_minifier_end(env_.wait(child_)); !ended) return ended;
      return check_minifier_output(env_, release_path_, release_blank_);
    };
    if (Result<> minified = minify_through_cache(env_, bundle_.name, release_path_, minifier,
                                                 arguments, run_minifier, companions);
        !minified) {
      return minified;
    }
    if (mapped) {
      if (Result<> written = write_maps(companions.front()); !written) return written;
    }
    // A second handle, opened after the minifier, so that the extras land
    // after whatever the minifier left in the release file; it also syncs
    // what the minifier wrote.
    Result<platform::File> appended = env_.open_for_append(release_path_);
    if (!appended) {
      return std::unexpected(
          with_action(std::move(appended.error()), action_writing, release_path_));
    }
    release_ = std::move(*appended);
    return keep_notices();
  }

  // After the minified text and before the extras (eof), or in a file of
  // their own beside the release output (external), which always comes to
  // hold this build's notices, none or more.
  Result<> keep_notices() {
    if (legal_ == LegalComments::eof && !notices_.empty()) {
      return env_.write_file(release_, "\n" + notices_.text());
    }
    if (legal_ != LegalComments::external) return {};
    Result<std::string> path = directory_.file("out.LICENSE.txt");
    if (!path) return std::unexpected(std::move(path.error()));
    if (Result<> written = write_working(*path, notices_.text()); !written) return written;
    std::string_view base = bundle_.out;
    if (base.ends_with(".js")) base.remove_suffix(3);
    companions_.emplace_back(std::move(*path),
                             std::string(base) + std::string(legal_comments_suffix));
    return {};
  }

  // With maps, an extra's own map comments would claim the whole bundle.
  Result<> append(std::string_view extra) override {
    if (maps_.mode == SourceMapMode::off) return write_to_both(extra);
    return write_to_both(drop_map_comments(extra));
  }

  Result<> end_outputs() override {
    // A debug-only build writes no map, so it links to none.
    if (maps_.mode != SourceMapMode::linked || debug_only_) return {};
    const auto comment = [](std::string_view output) {
      return std::string(source_map_comment) + std::string(file_name(output)) +
             std::string(source_map_suffix) + "\n";
    };
    if (Result<> written = env_.write_file(debug_, comment(bundle_.out_debug)); !written)
      return written;
    return env_.write_file(release_, comment(bundle_.out));
  }

  // The minifier's map rewritten to the sources, and the debug bundle's
  // line map, each finished in the run's folder.
  Result<> write_maps(const std::string& minifier_map) {
    const auto sources_for = [&](std::string_view output) {
      MapSources sources{{}, contents_, maps_.root};
      for (std::size_t i = 0; i < source_lines_.size(); ++i) {
        const Result<std::string> expanded = expanded_source(i);
        sources.names.push_back(
            map_source_path(expanded ? *expanded : std::string(source_lines_.written(i)), output));
      }
      return sources;
    };
    Result<std::string> uglified = env_.read_whole(minifier_map);
    if (!uglified)
      return std::unexpected(
          with_action(std::move(uglified.error()), action_reading_source, minifier_map));
    Result<std::string> release_map = rewrite_minifier_map(
        *uglified, source_lines_, sources_for(bundle_.out), file_name(bundle_.out));
    if (!release_map) return std::unexpected(std::move(release_map.error()));
    Result<std::string> debug_map = directory_.file(std::string(debug_file_name) + ".map");
    if (!debug_map) return std::unexpected(std::move(debug_map.error()));
    if (Result<> written = write_working(minifier_map, *release_map); !written) return written;
    if (Result<> written = write_working(
            *debug_map,
            line_map(source_lines_, sources_for(bundle_.out_debug), file_name(bundle_.out_debug)));
        !written)
      return written;
    companions_.emplace_back(std::move(*debug_map), bundle_.out_debug + ".map");
    companions_.emplace_back(minifier_map, bundle_.out + ".map");
    return {};
  }

  Result<std::string> expanded_source(std::size_t index) {
    const auto expanded = expand_path(source_lines_.written(index), PathEnvironment::of(env_));
    if (!expanded) return std::unexpected(expanded.error().to_failure());
    return std::string(expanded->view());
  }

  Result<> write_working(const std::string& path, std::string_view text) {
    Result<platform::File> file = env_.open_for_write(path);
    if (!file) return std::unexpected(with_action(std::move(file.error()), action_writing, path));
    if (Result<> written = env_.write_file(*file, text); !written)
      return std::unexpected(with_action(std::move(written.error()), action_writing, path));
    return finish_working_file(env_, *file, path);
  }

  Result<> write_to_both(std::string_view bytes) {
    if (Result<> written = write_source(env_, debug_, bytes); !written) return written;
    if (debug_only_) return {};
    return write_source(env_, release_, bytes);
  }

  // Where each source's lines are in the release file, for the minifier's
  // error positions.
  SourceLines source_lines_;
  SourceMapSettings maps_;
  LegalComments legal_ = LegalComments::none;
  LegalCommentCollector notices_;
  // The sources' texts, for the maps' sourcesContent when asked for.
  std::vector<std::string> contents_;
  // An importer alone is not blank.
  bool release_blank_ = !bundle_.importer;
  // Goes first on every way out, before the build's file handles.
  platform::Child child_;
};

}  // namespace

Result<> build_js(const Bundle& bundle, const BuildContext& context) {
  return JsBuild(bundle, context).run();
}

}  // namespace brelix
