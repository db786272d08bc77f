// Minify, then parse the output. Beyond not crashing: whatever minify_css
// prints parses again, so no rewrite of a name or value breaks the block
// structure, and a rejection reports a position inside the input.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <expected>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "css/optimizations/minifier.h"
#include "css/parser.h"
#include "css/writer.h"
#include "fuzz/reads_back.h"
#include "unicode/utf8.h"

namespace {

// As for the parse-write target: an unterminated "/*" is selector text, and
// sorting may put it in front of a selector holding "*/".
bool has_unterminated_comment(std::string_view text) {
  const std::size_t last_open = text.rfind("/*");
  return last_open != std::string_view::npos &&
         text.find("*/", last_open + 2) == std::string_view::npos;
}

// The entry that releases its input gives what minify_css gives, empties
// the input when it succeeds and leaves it alone when it fails.
void check_releasing(const css::CssMinifier& minifier, std::string_view text,
                     const std::expected<std::string, css::MError>& expected) {
  std::string owned(text);
  const auto released = minifier.minify_css_releasing_input(owned);
  if (released.has_value() != expected.has_value()) std::abort();
  if (released) {
    if (*released != *expected || !owned.empty()) std::abort();
  } else if (owned != text || released.error().debug() != expected.error().debug()) {
    std::abort();
  }
}

void check(const css::CssMinifier& minifier, std::string_view text) {
  const auto minified = minifier.minify_css(text);
  check_releasing(minifier, text, minified);
  if (!minified) {
    const css::MError& error = minified.error();
    if (!error.offset() || *error.offset() > text.size()) std::abort();
    if (error.debug().empty()) std::abort();
    return;
  }
  const auto parsed = css::parse_stylesheet(text);
  if (!parsed) std::abort();  // minify_css accepted what the parser rejects
  if (!reads_back_as_style_rule(parsed->items) || has_unterminated_comment(text)) return;
  const auto again = css::parse_stylesheet(*minified);
  if (!again) {
    std::fprintf(stderr, "minified text does not parse again at %zu:\n%s\n", again.error().offset,
                 minified->c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const css::CssMinifier minifier;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  check(minifier, unicode::decode_lossy(bytes));
  check(minifier, bytes);
  return 0;
}
