// The pure command-line parse over argument lists cut from the input at NUL
// bytes, the first being argument zero; an argument that is not valid UTF-8
// is nullopt, as the POSIX platform layer hands it over. Beyond not
// crashing:
// - the outcome is a record, or a report that is help or version (status 0,
//   standard output) or a usage error (status 2, standard error, the
//   "error: ... For more information" frame), ending in one line feed;
// - a record comes only from a list whose arguments are all valid, and each
//   of its texts is empty or the end of one of the arguments;
// - a record's list parses to the same record with "--" after it, and to
//   the help or version text with --help or -V after it (unless options
//   were already ended), and with "-- -o" after it to the same record with
//   "-o" as its positional value if it had none; the record written out in one plain form
//   (--boot=B --list=L -o -v -- EXTRA) parses back to itself;
// - emphasis adds escape sequences around pieces and changes nothing else.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "src/command_line.h"
#include "unicode/utf8.h"

namespace {

using Args = std::vector<std::optional<std::string>>;
using brelix::Arguments;
using brelix::Report;
using brelix::platform::Stream;

const brelix::Styler plain(false);
const brelix::Styler coloured(true);

constexpr std::string_view more_information = "For more information, try '--help'.\n";

[[noreturn]] void fail(const char* what, const Args& args) {
  std::fprintf(stderr, "parse_arguments: %s\narguments:", what);
  for (const std::optional<std::string>& arg : args) {
    if (arg) {
      std::fprintf(stderr, " [%s]", arg->c_str());
    } else {
      std::fprintf(stderr, " (invalid)");
    }
  }
  std::fputc('\n', stderr);
  std::abort();
}

std::expected<Arguments, Report> parse(const Args& args, const brelix::Styler& style = plain) {
  return brelix::parse_arguments(args, style, style);
}

bool same_record(const Arguments& a, const Arguments& b) {
  return a.boot == b.boot && a.list == b.list && a.extra == b.extra && a.ombril == b.ombril &&
         a.veltrano == b.veltrano;
}

// The text with every ESC [ ... m sequence taken out.
std::string strip_escapes(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
      const std::size_t end = text.find('m', i + 2);
      if (end != std::string_view::npos) {
        i = end;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

// Empty, or the tail of some argument after the first: a value is a whole
// argument or what follows an option's name or letter.
bool comes_from_an_argument(std::string_view value, const Args& args) {
  if (value.empty()) return true;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] && std::string_view(*args[i]).ends_with(value)) return true;
  }
  return false;
}

// The report that `extra` alone after argument zero gives.
Report report_for(const Args& args, const char* extra) {
  Args alone;
  alone.push_back(args.empty() ? std::optional<std::string>() : args[0]);
  alone.emplace_back(extra);
  return parse(alone).error();
}

void check_report(const Report& report, const Args& args) {
  if (report.status != brelix::help_status && report.status != brelix::usage_error_status) {
    fail("a report's status is neither 0 nor 2", args);
  }
  if (report.stream != (report.status == brelix::help_status ? Stream::output : Stream::error)) {
    fail("a report goes to the wrong stream for its status", args);
  }
  if (report.text.empty() || report.text.back() != '\n' || report.text.ends_with("\n\n")) {
    fail("a report's text does not end in one line feed", args);
  }
  if (report.status == brelix::usage_error_status) {
    if (!report.text.starts_with("error: ") || !report.text.ends_with(more_information)) {
      fail("a usage error lacks its frame", args);
    }
  } else if (report.text != report_for(args, "--help").text &&
             report.text != report_for(args, "-V").text) {
    fail("a status-0 report is neither the help nor the version", args);
  }
}

void check_record(const Arguments& record, const Args& args) {
  bool options_ended = false;
  bool has_empty = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (!args[i]) fail("a record from a list holding an invalid argument", args);
    has_empty = has_empty || args[i]->empty();
    // No record has "--" as an option's value, so one stands for the end
    // of the options (or is the positional value after it).
    options_ended = options_ended || *args[i] == "--";
  }
  if (!comes_from_an_argument(record.boot, args) || !comes_from_an_argument(record.list, args) ||
      !comes_from_an_argument(record.extra, args)) {
    fail("a record's value is not taken from an argument", args);
  }
  Args written{args.empty() ? std::optional<std::string>() : args[0]};
  written.push_back("--boot=" + record.boot);
  written.push_back("--list=" + record.list);
  if (record.ombril) written.emplace_back("-o");
  if (record.veltrano) written.emplace_back("-v");
  written.emplace_back("--");
  written.push_back(record.extra);
  const auto again = parse(written);
  if (!again || !same_record(*again, record))
    fail("the record written out does not parse back to itself", args);

  if (options_ended) return;
  Args longer = args;
  if (longer.empty()) longer.emplace_back("brelix");
  longer.emplace_back("--");
  const auto ended = parse(longer);
  if (!ended || !same_record(*ended, record)) fail("a trailing -- changes the record", args);
  // With no empty argument, an empty positional value was not given.
  if (record.extra.empty() && !has_empty) {
    longer.emplace_back("-o");
    Arguments expected = record;
    expected.extra = "-o";
    const auto positional = parse(longer);
    if (!positional || !same_record(*positional, expected))
      fail("-o after -- is not the positional value", args);
    longer.pop_back();
  }
  for (const char* extra : {"--help", "-V"}) {
    longer.back() = extra;
    const auto asked = parse(longer);
    if (asked || asked.error().status != brelix::help_status ||
        asked.error().text != report_for(longer, extra).text) {
      fail("help or version after a valid list is not shown", args);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Args args;
  bool has_escape = false;
  if (!input.empty()) {
    std::size_t start = 0;
    while (true) {
      const std::size_t end = input.find('\0', start);
      const std::string_view arg =
          input.substr(start, end == std::string_view::npos ? end : end - start);
      if (unicode::is_valid_utf8(arg)) {
        args.emplace_back(std::string(arg));
        has_escape = has_escape || arg.find('\x1b') != std::string_view::npos;
      } else {
        args.emplace_back(std::nullopt);
      }
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
  }

  const auto outcome = parse(args);
  if (outcome) {
    check_record(*outcome, args);
  } else {
    check_report(outcome.error(), args);
  }

  const auto styled = parse(args, coloured);
  if (styled.has_value() != outcome.has_value())
    fail("emphasis changes whether a record comes out", args);
  if (outcome) {
    if (!same_record(*styled, *outcome)) fail("emphasis changes the record", args);
  } else {
    const Report& report = outcome.error();
    if (styled.error().status != report.status || styled.error().stream != report.stream) {
      fail("emphasis changes the status or the stream", args);
    }
    // An escape in an argument would be indistinguishable from emphasis.
    if (!has_escape && strip_escapes(styled.error().text) != report.text) {
      fail("emphasis changes the characters of the text", args);
    }
  }
  return 0;
}
