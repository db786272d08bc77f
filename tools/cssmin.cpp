// cssmin FILE: prints the minified form of a style sheet, as the release
// style-sheet bundle gets it. FILE "-" reads standard input. Benchmarks and
// comparisons with other minifiers run this.
//
// Exit status: 0 with the minified text on standard output; 1 when the
// minifier rejects the text ("Invalid block at line N" on standard error);
// 2 for a usage or I/O error, or when memory runs out.

#include <cstdio>
#include <new>
#include <optional>
#include <stdexcept>
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
constexpr std::string_view memory_error_text = "cssmin: out of memory\n";

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

// The file is read, not mapped: another process that shortens a mapped
// file while it is read kills the reader (SIGBUS), and reading costs about
// as much.
int run(const std::string& path) {
  std::string bytes;
  if (path == "-") {
    std::optional<std::string> input = read_standard_input();
    if (!input) fail_with(stdin_error_text, error_status);
    bytes = std::move(*input);
  } else {
    using Kind = brelix::platform::SourceFailure::Kind;
    auto input = brelix::platform::read_regular_file(path);
    if (!input && input.error().kind == Kind::too_large) fail_with(memory_error_text, error_status);
    if (!input && input.error().kind == Kind::not_regular) {
      // A pipe (cssmin <(...)) or a device: read as it comes.
      brelix::Result<std::string> piped = brelix::platform::read_whole(path);
      if (!piped) fail_with("cssmin: " + path + ": " + piped.error().message + "\n", error_status);
      bytes = std::move(*piped);
    } else if (!input) {
      fail_with("cssmin: " + path + ": " + input.error().failure.message + "\n", error_status);
    } else {
      bytes = std::move(*input);
    }
  }

  // A byte order mark is not part of the sheet.
  if (unicode::without_byte_order_mark(bytes).size() != bytes.size()) bytes.erase(0, 3);
  std::string text = unicode::decode_lossy(std::move(bytes));
  const auto minified = css::CssMinifier().minify_css_releasing_input(text);
  if (!minified) fail_with(minified.error().message() + "\n", rejected_status);
  if (!brelix::platform::write(Stream::output, *minified))
    fail_with(stdout_error_text, error_status);
  return success_status;
}

}  // namespace

int main(int argc, char** argv) {
  brelix::platform::initialise_process(argc, argv);
  const std::vector<std::optional<std::string>> arguments = brelix::platform::arguments();
  if (arguments.size() != 2 || !arguments[1]) fail_with(usage_text, error_status);
  int status = error_status;
  try {
    status = run(*arguments[1]);
  } catch (const std::bad_alloc&) {
    fail_with(memory_error_text, error_status);
  } catch (const std::length_error&) {
    fail_with(memory_error_text, error_status);
  }
  finish(status);
}
