#include "src/bundle/build_css.h"

#include <algorithm>
#include <string>
#include <vector>

#include "css/optimizations/minifier.h"
#include "src/bundle/build_steps.h"
#include "src/platform/platform.h"
#include "unicode/utf8.h"

namespace brelix {
namespace {

constexpr std::string_view debug_file_name = "out-debug.css";
constexpr std::string_view release_file_name = "out.css";

constexpr std::string_view rejection_prefix = "called `Result::unwrap()` on an `Err` value: ";

// The joined text of the minifier's input, with where each source begins,
// so that a rejected construct can be traced back to its own file.
struct JoinedSources {
  std::string text;
  std::vector<std::size_t> starts;
};

// The line breaks in text as CSS counts them: a line feed, a carriage
// return (a pair of the two is one) and a form feed.
std::size_t css_line_breaks(std::string_view text) {
  std::size_t breaks = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n' || c == '\f' || (c == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) ++breaks;
  }
  return breaks;
}

// "<file> line N: the style sheet is rejected here (Invalid block at line M
// of the joined style sheets)": a line a person can act on, printed before
// the fault's own message.
std::string rejection_hint(const Bundle& bundle, const JoinedSources& joined, std::size_t offset,
                           std::string_view display) {
  // The construct starts at its first character that is not white space
  // as CSS knows it, where the parser may stop short (at a form feed).
  offset = std::min(joined.text.find_first_not_of(" \t\n\r\f", offset), joined.text.size());
  const auto after = std::upper_bound(joined.starts.begin(), joined.starts.end(), offset);
  const std::size_t index = after == joined.starts.begin() ? 0 : static_cast<std::size_t>(after - joined.starts.begin()) - 1;
  const std::size_t start = joined.starts.empty() ? 0 : joined.starts[index];
  const std::size_t end = offset;
  const std::size_t line = css_line_breaks(std::string_view(joined.text).substr(start, end - start)) + 1;
  std::string hint = "brelix: the style sheet ";
  if (index < bundle.files.size()) {
    hint.append(bundle.files[index]);
  }
  hint.append(" cannot be minified: its line ");
  hint.append(std::to_string(line));
  hint.append(" starts a construct the minifier rejects (");
  hint.append(display);
  hint.append(" of the joined style sheets)");
  return hint;
}

}  // namespace

Result<> build_css(const Bundle& bundle, const BuildContext& context) {
  platform::Env& env = context.env;
  if (Result<> printed = print_progress(env, bundle.name, progress_start); !printed) return printed;

  const Result<std::string> debug_path = context.directory.file(debug_file_name);
  if (!debug_path) return std::unexpected(debug_path.error());
  const Result<std::string> release_path = context.directory.file(release_file_name);
  if (!release_path) return std::unexpected(release_path.error());

  Result<platform::File> debug = open_cleared_for_append(env, *debug_path);
  if (!debug) return std::unexpected(std::move(debug.error()));

  if (Result<> printed = print_progress(env, bundle.name, progress_concatenating); !printed) return printed;
  // The debug style sheet is the sources exactly as they are, nothing
  // between them.
  for (const std::string_view file : bundle.files) {
    const Result<std::string> source = read_source(env, file);
    if (!source) return std::unexpected(source.error());
    if (Result<> written = env.write_file(*debug, *source); !written) return written;
  }
  if (Result<> printed = print_progress(env, bundle.name, progress_concatenating_done); !printed) return printed;

  // The release file is opened only now, once the debug style sheet is
  // complete, and deleted first so that it never starts with what an
  // earlier failed run left.
  Result<platform::File> release = open_cleared_for_append(env, *release_path);
  if (!release) return std::unexpected(std::move(release.error()));

  if (Result<> printed = print_progress(env, bundle.name, progress_processing); !printed) return printed;
  // Each source is read a second time, for the minifier, which sees text:
  // invalid UTF-8 becomes U+FFFD there while the debug file keeps the bytes.
  JoinedSources joined;
  for (const std::string_view file : bundle.files) {
    const Result<std::string> source = read_source(env, file);
    if (!source) return std::unexpected(source.error());
    if (!joined.starts.empty()) {
      joined.text.push_back('\n');
    }
    joined.starts.push_back(joined.text.size());
    joined.text.append(unicode::decode_lossy(*source));
  }

  {
    const css::CssMinifier minifier;
    // The joined text is needed again only to place a rejection.
    auto minified = minifier.minify_css_releasing_input(joined.text);
    if (!minified) {
      const css::MError& error = minified.error();
      const std::string display = error.message();
      return fault(std::string(rejection_prefix) + error.debug(),
                   rejection_hint(bundle, joined, error.offset().value_or(joined.text.size()), display));
    }
    if (Result<> written = env.write_file(*release, *minified); !written) return written;
  }

  if (bundle.append_extra) {
    if (Result<> printed = print_progress(env, bundle.name, progress_appending); !printed) return printed;
    for (const std::string_view file : bundle.extra) {
      const Result<std::string> source = read_source(env, file);
      if (!source) return std::unexpected(source.error());
      if (Result<> written = env.write_file(*debug, *source); !written) return written;
      if (Result<> written = env.write_file(*release, *source); !written) return written;
    }
    if (Result<> printed = print_progress(env, bundle.name, progress_appending_done); !printed) return printed;
  }

  if (Result<> finished = finish_working_file(env, *release, *release_path); !finished) return finished;
  if (Result<> finished = finish_working_file(env, *debug, *debug_path); !finished) return finished;
  if (Result<> same = context.directory.check(); !same) return same;

  if (Result<> moved = move_outputs(env, *debug_path, *release_path, bundle); !moved) return moved;

  if (Result<> printed = print_done(env, bundle.name); !printed) return printed;
  return {};
}

}  // namespace brelix
