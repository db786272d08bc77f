// cssmin FILE: prints the minified form of a style sheet, as the release
// style-sheet bundle gets it. FILE "-" reads standard input. Benchmarks and
// comparisons with other minifiers run this.
//
// Exit status: 0 with the minified text on standard output; 1 when the
// minifier rejects the text ("Invalid block at line N" on standard error);
// 2 for a usage or I/O error.

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "css/optimizations/minifier.h"
#include "src/failure.h"
#include "src/platform/platform.h"
#include "unicode/utf8.h"

namespace {

using brelix::platform::Stream;

constexpr int success_status = 0;
constexpr int rejected_status = 1;
constexpr int error_status = 2;

constexpr std::string_view usage_text = "Usage: cssmin FILE (\"-\" for standard input)\n";
constexpr std::string_view stdin_error_text = "cssmin: cannot read standard input\n";
constexpr std::string_view stdout_error_text = "cssmin: cannot write standard output\n";

[[noreturn]] void finish(int status) {
  (void)brelix::platform::flush(Stream::output);
  (void)brelix::platform::flush(Stream::error);
  brelix::platform::exit_process(status);
}

[[noreturn]] void fail_with(std::string_view message, int status) {
  (void)brelix::platform::write(Stream::error, message);
  finish(status);
}

// The C stream is the only portable way to standard input here; it is read
// in large blocks, so big inputs cost no more than a file.
std::optional<std::string> read_standard_input() {
  std::string bytes;
  std::vector<char> block(1 << 16);
  while (true) {
    const std::size_t got = std::fread(block.data(), 1, block.size(), stdin);
    bytes.append(block.data(), got);
    if (got < block.size()) break;
  }
  if (std::ferror(stdin) != 0) return std::nullopt;
  return bytes;
}

// Minifies a file without reading it into memory: the minifier reads the
// mapping in place and tells which part it is done with, so the system can
// drop those pages while the output grows. Only valid UTF-8 can be read in
// place: other text comes back as bytes for the lossy decoding, and a file
// that cannot be mapped or shows no bytes (a FIFO, a /proc file) as
// nothing, to be read as before; so what cssmin prints never depends on
// the path taken.
std::optional<std::string> minify_mapped(const std::string& path) {
  auto mapped = brelix::platform::map_file(path);
  if (!mapped || mapped->text().empty()) return std::nullopt;
  const std::string_view whole = mapped->text();
  const std::string_view text = unicode::without_byte_order_mark(whole);
  if (!unicode::is_valid_utf8(text)) return std::string(text);
  const std::size_t mark = whole.size() - text.size();
  const auto minified = css::CssMinifier().minify_css(
      text, [&](std::size_t offset) { mapped->release_before(mark + offset); });
  if (!minified) fail_with(minified.error().message() + "\n", rejected_status);
  if (!brelix::platform::write(Stream::output, *minified))
    fail_with(stdout_error_text, error_status);
  finish(success_status);
}

}  // namespace

int main(int argc, char** argv) {
  brelix::platform::initialise_process(argc, argv);
  const std::vector<std::optional<std::string>> arguments = brelix::platform::arguments();
  if (arguments.size() != 2 || !arguments[1]) fail_with(usage_text, error_status);
  const std::string& path = *arguments[1];

  std::string bytes;
  if (path == "-") {
    std::optional<std::string> input = read_standard_input();
    if (!input) fail_with(stdin_error_text, error_status);
    bytes = std::move(*input);
    // A byte order mark is not part of the sheet (minify_mapped drops it too).
    if (unicode::without_byte_order_mark(bytes).size() != bytes.size()) bytes.erase(0, 3);
  } else if (std::optional<std::string> copied = minify_mapped(path)) {
    bytes = std::move(*copied);
  } else {
    brelix::Result<std::string> input = brelix::platform::read_whole(path);
    if (!input) fail_with("cssmin: " + path + ": " + input.error().message + "\n", error_status);
    bytes = std::move(*input);
    if (unicode::without_byte_order_mark(bytes).size() != bytes.size()) bytes.erase(0, 3);
  }

  std::string text = unicode::decode_lossy(std::move(bytes));
  const auto minified = css::CssMinifier().minify_css_releasing_input(text);
  if (!minified) fail_with(minified.error().message() + "\n", rejected_status);
  if (!brelix::platform::write(Stream::output, *minified))
    fail_with(stdout_error_text, error_status);
  finish(success_status);
}
