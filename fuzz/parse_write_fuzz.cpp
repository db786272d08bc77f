// Parse, write, parse again. Beyond not crashing: whatever the writer prints
// from a parsed sheet parses again, except in the two cases below that the
// grammar itself sets up. Writing that again need not give the same text (a
// form feed before "@font-face{...}" makes a style rule whose printed form
// reads back as a font-face rule), so that is not checked.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "css/parser.h"
#include "css/writer.h"
#include "fuzz/reads_back.h"
#include "unicode/utf8.h"

namespace {

// An unterminated "/*" is selector text, but sorting may put a selector
// holding "*/" after it, and then the printed text has a real comment.
bool has_unterminated_comment(std::string_view text) {
  const std::size_t last_open = text.rfind("/*");
  return last_open != std::string_view::npos &&
         text.find("*/", last_open + 2) == std::string_view::npos;
}

void check(std::string_view text) {
  const auto parsed = css::parse_stylesheet(text);
  if (!parsed) {
    if (parsed.error().offset > text.size()) std::abort();
    return;
  }
  const std::string written = css::write_stylesheet(*parsed);
  if (!reads_back_as_style_rule(parsed->items) || has_unterminated_comment(text)) return;
  const auto again = css::parse_stylesheet(written);
  if (!again) {
    std::fprintf(stderr, "written text does not parse again at %zu:\n%s\n", again.error().offset,
                 written.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  check(unicode::decode_lossy(bytes));
  check(bytes);
  return 0;
}
