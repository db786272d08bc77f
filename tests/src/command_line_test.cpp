// The command line over given argument lists: the record it yields, the
// help and version texts, and every usage-error report, byte for byte.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "src/command_line.h"
#include "tests/support/expected_texts.h"
#include "tests/support/world.h"

namespace brelix {
namespace {

using Args = std::vector<std::optional<std::string>>;
using platform::Stream;

const Styler plain(false);
const Styler coloured(true);

using testing::expected_help;
using testing::expected_usage_error;

constexpr std::string_view closing = "For more information, try '--help'.\n";

Args with_program(std::vector<std::optional<std::string>> rest) {
  Args args{std::string("brelix")};
  args.insert(args.end(), rest.begin(), rest.end());
  return args;
}

std::expected<Arguments, Report> parse(const Args& args, const Styler& style = plain) {
  return parse_arguments(args, style, style);
}

// The argument list for failure messages; invalid arguments as (invalid).
std::string describe(const Args& args) {
  std::string out;
  for (const std::optional<std::string>& arg : args) {
    if (arg) {
      out += '[';
      out += arg->substr(0, 40);
      out += "] ";
    } else {
      out += "(invalid) ";
    }
  }
  return out;
}

std::string strip_escapes(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
      i += 2;
      while (i < text.size() && text[i] != 'm') {
        ++i;
      }
      continue;
    }
    out.push_back(text[i]);
  }
  return out;
}

// ---- The record ----------------------------------------------------------------

struct RecordCase {
  Args args;
  std::string boot, list, extra;
  bool ombril, veltrano;
};

TEST(CommandLine, YieldsTheRecord) {
  const RecordCase cases[] = {
      {{}, "", "", "", false, false},
      {{"--boot", "a.js"}, "a.js", "", "", false, false},
      {{"--boot=a.js"}, "a.js", "", "", false, false},
      {{"--boot="}, "", "", "", false, false},
      {{"--boot", ""}, "", "", "", false, false},
      {{"--boot", "-"}, "-", "", "", false, false},
      {{"--list", "a b", "--boot", "c"}, "c", "a b", "", false, false},
      {{"--list=x=y"}, "", "x=y", "", false, false},
      {{"-b", "a.js"}, "a.js", "", "", false, false},
      {{"-bfoo.js"}, "foo.js", "", "", false, false},
      {{"-b=foo.js"}, "foo.js", "", "", false, false},
      {{"-b="}, "", "", "", false, false},
      {{"-b=="}, "=", "", "", false, false},
      {{"-l", "x", "-o"}, "", "x", "", true, false},
      {{"-ov"}, "", "", "", true, true},
      {{"-vo"}, "", "", "", true, true},
      {{"--ombril", "--veltrano"}, "", "", "", true, true},
      {{"-vb=x"}, "x", "", "", false, true},
      {{"-vbx"}, "x", "", "", false, true},
      {{"-vb", "x"}, "x", "", "", false, true},
      {{"-obov"}, "ov", "", "", true, false},
      {{"-vl-o"}, "", "-o", "", false, true},
      {{"extra.js"}, "", "", "extra.js", false, false},
      {{"-"}, "", "", "-", false, false},
      {{""}, "", "", "", false, false},
      {{"--", "--ombril"}, "", "", "--ombril", false, false},
      {{"--", "--"}, "", "", "--", false, false},
      {{"--", "-1"}, "", "", "-1", false, false},
      {{"-o", "x.js", "--boot", "b"}, "b", "", "x.js", true, false},
      {{"caf\xc3\xa9", "-b", "\xe2\x82\xac"}, "\xe2\x82\xac", "", "caf\xc3\xa9", false, false},
  };
  for (const RecordCase& c : cases) {
    const auto outcome = parse(with_program(c.args));
    ASSERT_TRUE(outcome.has_value()) << describe(c.args) << "\n" << outcome.error().text;
    EXPECT_EQ(outcome->boot, c.boot) << describe(c.args);
    EXPECT_EQ(outcome->list, c.list) << describe(c.args);
    EXPECT_EQ(outcome->extra, c.extra) << describe(c.args);
    EXPECT_EQ(outcome->ombril, c.ombril) << describe(c.args);
    EXPECT_EQ(outcome->veltrano, c.veltrano) << describe(c.args);
  }
}

TEST(CommandLine, ArgumentZeroAloneOrMissingYieldsDefaults) {
  for (const Args& args : {Args{}, Args{std::nullopt}, Args{std::string("")}}) {
    const auto outcome = parse(args);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->boot, "");
    EXPECT_FALSE(outcome->ombril || outcome->veltrano);
  }
}

// ---- Help and version ----------------------------------------------------------

TEST(CommandLine, HelpAndVersionGoToStandardOutputWithStatusZero) {
  struct Case {
    Args args;
    std::string text;
  };
  const Case cases[] = {
      {{"-h"}, expected_help("brelix")},
      {{"--help"}, expected_help("brelix")},
      {{"-oh"}, expected_help("brelix")},
      {{"--help", "--foo"}, expected_help("brelix")},
      {{"--help", "a", "b"}, expected_help("brelix")},
      {{"-h", std::nullopt}, expected_help("brelix")},
      {{"-V"}, "brelix 0.1.0\n"},
      {{"--version"}, "brelix 0.1.0\n"},
      {{"-vV"}, "brelix 0.1.0\n"},
      {{"--version", "--help"}, "brelix 0.1.0\n"},
      {{"-hV"}, expected_help("brelix")},
  };
  for (const Case& c : cases) {
    const auto outcome = parse(with_program(c.args));
    ASSERT_FALSE(outcome.has_value()) << describe(c.args);
    EXPECT_EQ(outcome.error().stream, Stream::output);
    EXPECT_EQ(outcome.error().status, 0);
    EXPECT_EQ(outcome.error().text, c.text) << describe(c.args);
  }
}

TEST(CommandLine, ProgramNameIsTheLastComponentOfArgumentZero) {
  struct Case {
    std::optional<std::string> argv0;
    std::string posix_name;
    std::string windows_name;
  };
  const Case cases[] = {
      {"brelix", "brelix", "brelix"},
      {"/usr/local/bin/brelix", "brelix", "brelix"},
      {"./brelix.exe", "brelix.exe", "brelix.exe"},
      {".\\brelix.exe", ".\\brelix.exe", "brelix.exe"},
      {"C:\\tools/bin\\my brelix.exe", "bin\\my brelix.exe", "my brelix.exe"},
      {"bin/", "brelix", "brelix"},
      {"", "brelix", "brelix"},
      {std::nullopt, "brelix", "brelix"},
  };
  for (const Case& c : cases) {
    const std::string& name = testing::on_windows() ? c.windows_name : c.posix_name;
    for (const char* help : {"-h", "--help"}) {
      const auto outcome = parse({c.argv0, std::string(help)});
      ASSERT_FALSE(outcome.has_value());
      EXPECT_EQ(outcome.error().text, expected_help(name)) << c.argv0.value_or("(invalid)");
    }
    const auto error = parse({c.argv0, std::string("--xyz")});
    ASSERT_FALSE(error.has_value());
    EXPECT_NE(error.error().text.find("\nUsage: " + name + " [OPTIONS] [EXTRA]\n"),
              std::string::npos)
        << error.error().text;
    const auto version = parse({c.argv0, std::string("-V")});
    ASSERT_FALSE(version.has_value());
    EXPECT_EQ(version.error().text, "brelix 0.1.0\n");
  }
}

// ---- Usage errors ----------------------------------------------------------------

struct ErrorCase {
  Args args;
  std::string text;
};

TEST(CommandLine, UsageErrorsMatchTheirReportsByteForByte) {
  const ErrorCase cases[] = {
      // The documented example, with a name that resembles nothing.
      {{"--xyz"},
       "error: unexpected argument '--xyz' found\n"
       "\n"
       "  tip: to pass '--xyz' as a value, use '-- --xyz'\n"
       "\n"
       "Usage: brelix [OPTIONS] [EXTRA]\n"
       "\n"
       "For more information, try '--help'.\n"},
      {{"--foo"},
       expected_usage_error("unexpected argument '--foo' found",
                            "a similar argument exists: '--boot'")},
      {{"--lst"},
       expected_usage_error("unexpected argument '--lst' found",
                            "a similar argument exists: '--list'")},
      {{"--verison"},
       expected_usage_error("unexpected argument '--verison' found",
                            "a similar argument exists: '--version'")},
      {{"--ombirl"},
       expected_usage_error("unexpected argument '--ombirl' found",
                            "a similar argument exists: '--ombril'")},
      // Ties go to the later declaration: list after boot, help after list.
      {{"--bit"},
       expected_usage_error("unexpected argument '--bit' found",
                            "a similar argument exists: '--list'")},
      {{"--eli"},
       expected_usage_error("unexpected argument '--eli' found",
                            "a similar argument exists: '--help'")},
      // The name is compared without its value.
      {{"--lst=a.js"},
       expected_usage_error("unexpected argument '--lst=a.js' found",
                            "a similar argument exists: '--list'")},
      {{"--Boot"},
       expected_usage_error("unexpected argument '--Boot' found",
                            "a similar argument exists: '--boot'")},
      {{"--=x"},
       expected_usage_error("unexpected argument '--=x' found",
                            "to pass '--=x' as a value, use '-- --=x'")},
      // One letter in common is enough when it is the whole name: (1 + 1/4 + 1) / 3.
      {{"--b"},
       expected_usage_error("unexpected argument '--b' found",
                            "a similar argument exists: '--boot'")},
      {{"--bo=x"},
       expected_usage_error("unexpected argument '--bo=x' found",
                            "a similar argument exists: '--boot'")},
      {{"-x"},
       expected_usage_error("unexpected argument '-x' found",
                            "to pass '-x' as a value, use '-- -x'")},
      {{"-1"},
       expected_usage_error("unexpected argument '-1' found",
                            "to pass '-1' as a value, use '-- -1'")},
      {{"-ox"},
       expected_usage_error("unexpected argument '-ox' found",
                            "to pass '-ox' as a value, use '-- -ox'")},
      {{"-="},
       expected_usage_error("unexpected argument '-=' found",
                            "to pass '-=' as a value, use '-- -='")},
      {{"-\xc3\xa9"},
       expected_usage_error("unexpected argument '-\xc3\xa9' found",
                            "to pass '-\xc3\xa9' as a value, use '-- -\xc3\xa9'")},
      {{"a", "b"}, expected_usage_error("unexpected argument 'b' found", std::nullopt)},
      {{"a", "--", "b"}, expected_usage_error("unexpected argument 'b' found", std::nullopt)},
      {{"--", "a", "-o"}, expected_usage_error("unexpected argument '-o' found", std::nullopt)},
      {{"--boot"},
       expected_usage_error("a value is required for '--boot <BOOT>' but none was supplied",
                            std::nullopt, false)},
      {{"-l"},
       expected_usage_error("a value is required for '--list <LIST>' but none was supplied",
                            std::nullopt, false)},
      {{"-ovb"},
       expected_usage_error("a value is required for '--boot <BOOT>' but none was supplied",
                            std::nullopt, false)},
      {{"--boot", "--list", "x"},
       expected_usage_error("a value is required for '--boot <BOOT>' but none was supplied",
                            std::nullopt, false)},
      {{"-b", "-o"},
       expected_usage_error("a value is required for '--boot <BOOT>' but none was supplied",
                            std::nullopt, false)},
      {{"-b", "--"},
       expected_usage_error("a value is required for '--boot <BOOT>' but none was supplied",
                            std::nullopt, false)},
      {{"--boot", "a", "--boot", "a"},
       expected_usage_error("the argument '--boot <BOOT>' cannot be used multiple times",
                            std::nullopt)},
      {{"--list=a", "-lb"},
       expected_usage_error("the argument '--list <LIST>' cannot be used multiple times",
                            std::nullopt)},
      {{"-o", "--ombril"},
       expected_usage_error("the argument '--ombril' cannot be used multiple times", std::nullopt)},
      {{"-vv"},
       expected_usage_error("the argument '--veltrano' cannot be used multiple times",
                            std::nullopt)},
      {{"--ombril=x"},
       expected_usage_error("unexpected value 'x' for '--ombril' found; no more were expected",
                            std::nullopt)},
      {{"--veltrano="},
       expected_usage_error("unexpected value '' for '--veltrano' found; no more were expected",
                            std::nullopt)},
      {{"-o=x"},
       expected_usage_error("unexpected value 'x' for '--ombril' found; no more were expected",
                            std::nullopt)},
      {{"-ov=a=b"},
       expected_usage_error("unexpected value 'a=b' for '--veltrano' found; no more were expected",
                            std::nullopt)},
      {{"--help=x"},
       expected_usage_error("unexpected value 'x' for '--help' found; no more were expected",
                            std::nullopt)},
      {{std::nullopt},
       expected_usage_error("invalid UTF-8 was detected in one or more arguments", std::nullopt)},
      {{"-o", std::nullopt, "--help"},
       expected_usage_error("invalid UTF-8 was detected in one or more arguments", std::nullopt)},
      {{"--boot", std::nullopt},
       expected_usage_error("invalid UTF-8 was detected in one or more arguments", std::nullopt)},
      {{"--", std::nullopt},
       expected_usage_error("invalid UTF-8 was detected in one or more arguments", std::nullopt)},
      // Errors end the parse where they are met: a later help does not act.
      {{"--foo", "--help"},
       expected_usage_error("unexpected argument '--foo' found",
                            "a similar argument exists: '--boot'")},
      {{"a", "b", "-h"}, expected_usage_error("unexpected argument 'b' found", std::nullopt)},
  };
  for (const ErrorCase& c : cases) {
    const auto outcome = parse(with_program(c.args));
    ASSERT_FALSE(outcome.has_value()) << describe(c.args);
    EXPECT_EQ(outcome.error().stream, Stream::error) << describe(c.args);
    EXPECT_EQ(outcome.error().status, 2) << describe(c.args);
    EXPECT_EQ(outcome.error().text, c.text) << describe(c.args);
  }
}

TEST(CommandLine, MissingValueGuardNamesTheIdWithTheCommandName) {
  const auto complete = [] {
    ArgumentValues values;
    values.boot = "b";
    values.list = "l";
    values.extra = "e";
    values.ombril = true;
    values.veltrano = false;
    return values;
  };
  const auto record = read_record(complete(), plain);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->boot, "b");
  EXPECT_EQ(record->list, "l");
  EXPECT_EQ(record->extra, "e");
  EXPECT_TRUE(record->ombril);
  EXPECT_FALSE(record->veltrano);

  struct Case {
    void (*drop)(ArgumentValues&);
    const char* id;
  };
  const Case cases[] = {
      {[](ArgumentValues& v) { v.boot.reset(); }, "boot"},
      {[](ArgumentValues& v) { v.list.reset(); }, "list"},
      {[](ArgumentValues& v) { v.extra.reset(); }, "extra"},
      {[](ArgumentValues& v) { v.ombril.reset(); }, "ombril"},
      {[](ArgumentValues& v) { v.veltrano.reset(); }, "veltrano"},
      // Read in field order: the first missing one is named.
      {[](ArgumentValues& v) { v.veltrano.reset(), v.list.reset(); }, "list"},
  };
  for (const Case& c : cases) {
    ArgumentValues values = complete();
    c.drop(values);
    const auto outcome = read_record(std::move(values), plain);
    ASSERT_FALSE(outcome.has_value()) << c.id;
    EXPECT_EQ(outcome.error().status, 2);
    EXPECT_EQ(outcome.error().stream, Stream::error);
    EXPECT_EQ(outcome.error().text,
              expected_usage_error(
                  std::string("the following required argument was not provided: ") + c.id,
                  std::nullopt));
  }
}

// ---- Emphasis ----------------------------------------------------------------

TEST(CommandLine, EmphasisChangesNoCharacterOfAnyText) {
  const Args cases[] = {
      {"-h"},     {"-V"},       {"--xyz"},      {"--foo"},      {"a", "b"},
      {"--boot"}, {"-o", "-o"}, {"--ombril=x"}, {std::nullopt},
  };
  for (const Args& args : cases) {
    const auto without = parse(with_program(args), plain);
    const auto with = parse(with_program(args), coloured);
    ASSERT_FALSE(without.has_value());
    ASSERT_FALSE(with.has_value());
    EXPECT_EQ(without.error().text.find('\x1b'), std::string::npos) << without.error().text;
    EXPECT_EQ(strip_escapes(with.error().text), without.error().text);
    EXPECT_EQ(with.error().status, without.error().status);
    EXPECT_EQ(with.error().stream, without.error().stream);
  }
  // Help and errors are emphasised at all when asked to be.
  EXPECT_NE(parse(with_program({"-h"}), coloured).error().text.find('\x1b'), std::string::npos);
  EXPECT_NE(parse(with_program({"--xyz"}), coloured).error().text.find('\x1b'), std::string::npos);
}

TEST(CommandLine, EachStreamUsesItsOwnStyler) {
  const Args help = with_program({"--help"});
  const Args error = with_program({"--xyz"});
  EXPECT_EQ(parse_arguments(help, plain, coloured).error().text.find('\x1b'), std::string::npos);
  EXPECT_NE(parse_arguments(help, coloured, plain).error().text.find('\x1b'), std::string::npos);
  EXPECT_EQ(parse_arguments(error, coloured, plain).error().text.find('\x1b'), std::string::npos);
  EXPECT_NE(parse_arguments(error, plain, coloured).error().text.find('\x1b'), std::string::npos);
}

// Random lists built from pieces that hit every branch of the parse: the
// outcome is always a record or a well-formed report, and emphasis never
// changes its characters.
TEST(CommandLine, RandomListsGiveARecordOrAWellFormedReport) {
  const std::vector<std::optional<std::string>> pieces = {
      "--",    "-",   "",   "--boot", "--boot=", "-b",  "-bx",      "-b=",         "--list",
      "-l",    "-o",  "-v", "-ov",    "-vb",     "-o=", "--ombril", "--veltrano=", "--lst",
      "--xyz", "--=", "-1", "-x",     "a.js",    "=",   "--help=",  "\xc3\xa9",    std::nullopt,
  };
  std::mt19937 random(20240611);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(0, 6);
  for (int round = 0; round < 20000; ++round) {
    Args args{std::string("brelix")};
    for (int n = length(random); n > 0; --n) {
      args.push_back(pieces[pick(random)]);
    }
    const auto outcome = parse(args);
    if (outcome) {
      continue;
    }
    const Report& report = outcome.error();
    ASSERT_TRUE(report.status == 0 || report.status == 2) << describe(args);
    EXPECT_EQ(report.stream, report.status == 0 ? Stream::output : Stream::error) << describe(args);
    ASSERT_FALSE(report.text.empty());
    EXPECT_EQ(report.text.back(), '\n');
    EXPECT_NE(report.text.substr(report.text.size() - 2), "\n\n") << describe(args);
    if (report.status == 2) {
      EXPECT_TRUE(report.text.starts_with("error: ")) << describe(args);
      EXPECT_TRUE(report.text.ends_with(closing)) << describe(args);
    }
    EXPECT_EQ(strip_escapes(parse(args, coloured).error().text), report.text) << describe(args);
  }
}

// ---- Bad input ---------------------------------------------------------------

TEST(CommandLine, HugeAndNumerousArgumentsAreHandledQuickly) {
  const auto start = std::chrono::steady_clock::now();
  const std::string megabyte(1 << 20, 'o');

  const auto value = parse(with_program({"-b" + megabyte, "--list", megabyte, megabyte}));
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->boot, megabyte);
  EXPECT_EQ(value->list, megabyte);
  EXPECT_EQ(value->extra, megabyte);

  // A megabyte of flag letters: the second o is a repetition.
  const auto group = parse(with_program({"-" + megabyte}));
  ASSERT_FALSE(group.has_value());
  EXPECT_EQ(
      group.error().text,
      expected_usage_error("the argument '--ombril' cannot be used multiple times", std::nullopt));

  const auto long_name = parse(with_program({"--" + megabyte}));
  ASSERT_FALSE(long_name.has_value());
  EXPECT_EQ(long_name.error().status, 2);
  const std::string arg = "--" + megabyte;
  EXPECT_EQ(long_name.error().text,
            expected_usage_error("unexpected argument '" + arg + "' found",
                                 "to pass '" + arg + "' as a value, use '-- " + arg + "'"));

  Args many = with_program({"-o", "-v", "--boot", "b", "x"});
  for (int i = 0; i < 100000; ++i) {
    many.push_back("--");  // after the first, a second positional
  }
  const auto numerous = parse(many);
  ASSERT_FALSE(numerous.has_value());
  EXPECT_EQ(numerous.error().text,
            expected_usage_error("unexpected argument '--' found", std::nullopt));

  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(10));
}

}  // namespace
}  // namespace brelix
