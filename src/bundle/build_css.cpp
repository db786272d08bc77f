#include "src/bundle/build_css.h"

#include <algorithm>
#include <string>
#include <vector>

#include "css/optimizations/minifier.h"
#include "src/bundle/build_steps.h"
#include "src/bundle/bundle_build.h"
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
    if (c == '\n' || c == '\f' || (c == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
      ++breaks;
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
  const std::size_t index = after == joined.starts.begin()
                                ? 0
                                : static_cast<std::size_t>(after - joined.starts.begin()) - 1;
  const std::size_t start = joined.starts.empty() ? 0 : joined.starts[index];
  const std::size_t end = offset;
  const std::size_t line =
      css_line_breaks(std::string_view(joined.text).substr(start, end - start)) + 1;
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

// The style-sheet build's own steps: the debug style sheet is the sources
// exactly as they are, nothing between them; the release style sheet is
// what the minifier makes of them, then the extras on both.
class CssBuild final : public BundleBuild {
 public:
  CssBuild(const Bundle& bundle, const BuildContext& context)
      : BundleBuild(bundle, context, debug_file_name, release_file_name) {}

 private:
  // A byte order mark is dropped from the start of every source, as from
  // the minifier's input: after the first source it would stand inside the
  // joined sheet, where browsers read it as part of a selector.
  Result<> concatenate(std::string_view source) override {
    return env_.write_file(debug_, unicode::without_byte_order_mark(source));
  }

  // The release file is opened only now, once the debug style sheet is
  // complete, and deleted first so that it never starts with what an
  // earlier failed run left.
  Result<> before_processing() override {
    Result<platform::File> release = open_cleared_for_append(env_, release_path_);
    if (!release) return std::unexpected(std::move(release.error()));
    release_ = std::move(*release);
    return {};
  }

  Result<> process() override {
    // Each source is read a second time, for the minifier, which sees
    // text: invalid UTF-8 becomes U+FFFD there while the debug file keeps
    // the bytes.
    JoinedSources joined;
    for (const std::string_view file : bundle_.files) {
      const Result<std::string> source = read_source(env_, file);
      if (!source) return std::unexpected(source.error());
      if (!joined.starts.empty()) {
        joined.text.push_back('\n');
      }
      joined.starts.push_back(joined.text.size());
      joined.text.append(unicode::decode_lossy(unicode::without_byte_order_mark(*source)));
    }
    const css::CssMinifier minifier;
    // The joined text is needed again only to place a rejection.
    auto minified = minifier.minify_css_releasing_input(joined.text);
    if (!minified) {
      const css::MError& error = minified.error();
      const std::string display = error.message();
      return fault(
          std::string(rejection_prefix) + error.debug(),
          rejection_hint(bundle_, joined, error.offset().value_or(joined.text.size()), display));
    }
    if (Result<> written = env_.write_file(release_, *minified); !written) {
      return std::unexpected(
          with_action(std::move(written.error()), action_writing, release_path_));
    }
    return {};
  }

  // Extras are sheets too, and stand after the others.
  Result<> append(std::string_view extra) override {
    extra = unicode::without_byte_order_mark(extra);
    if (Result<> written = env_.write_file(debug_, extra); !written) return written;
    if (debug_only_) return {};
    return env_.write_file(release_, extra);
  }
};

}  // namespace

Result<> build_css(const Bundle& bundle, const BuildContext& context) {
  return CssBuild(bundle, context).run();
}

}  // namespace brelix
