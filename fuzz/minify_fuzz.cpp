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
#include "unicode/utf8.h"

namespace {

// As for the parse-write target: a selector list printed with a leading
// '@' or '}' came from a non-gap space in front of it and cannot be read
// back as a style rule; the rewrites never touch selectors.
bool reads_back_as_style_rule(const std::vector<css::Item>& items) {
  for (const css::Item& item : items) {
    if (const auto* rule = std::get_if<css::StyleRule>(&item)) {
      const std::string text = css::write_selector_list(rule->selectors);
      if (!text.empty() && (text[0] == '@' || text[0] == '}')) return false;
      if (!reads_back_as_style_rule(rule->items)) return false;
    } else if (const auto* at_rule = std::get_if<css::AtRule>(&item)) {
      if (!reads_back_as_style_rule(at_rule->items)) return false;
    } else if (const auto* media = std::get_if<css::MediaRule>(&item)) {
      if (!reads_back_as_style_rule(media->items)) return false;
    } else if (const auto* supports = std::get_if<css::SupportsRule>(&item)) {
      if (!reads_back_as_style_rule(supports->items)) return false;
    }
  }
  return true;
}

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
