// The built program's command line: help, version and usage errors, byte
// for byte, on the right stream and with the right exit status.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/expected_texts.h"
#include "tests/support/world.h"

namespace brelix::testing {
namespace {

std::string joined(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& arg : args) {
    out += "[" + arg + "] ";
  }
  return out;
}

RunOptions as_brelix() {
  RunOptions options;
  options.argv0 = "brelix";
  return options;
}

TEST(CommandLineProgram, PrintsHelpAndVersionOnStandardOutput) {
  World world;
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const Case cases[] = {
      {{"-h"}, expected_help("brelix")},
      {{"--help"}, expected_help("brelix")},
      {{"--help", "--foo"}, expected_help("brelix")},
      {{"-V"}, "brelix 0.1.0\n"},
      {{"--version"}, "brelix 0.1.0\n"},
  };
  for (const Case& c : cases) {
    const RunResult result = world.run("brelix", c.args, as_brelix());
    EXPECT_EQ(result.status, 0) << joined(c.args);
    EXPECT_EQ(result.out, c.out) << joined(c.args);
    EXPECT_EQ(result.err, "") << joined(c.args);
  }
}

TEST(CommandLineProgram, NamesItselfByTheLastComponentOfArgumentZero) {
  World world;
  // Started by its own path, the program's file name is what shows.
  const std::string own_name = on_windows() ? "brelix.exe" : "brelix";
  struct Case {
    std::string argv0;
    std::string name;
  };
  std::vector<Case> cases = {
      {"", own_name},
      {"some/where/tool", "tool"},
      {"./brelix.exe", "brelix.exe"},
  };
  if (on_windows()) {
    cases.push_back({".\\brelix.exe", "brelix.exe"});
    cases.push_back({"C:\\tools\\bin/mixed\\b.exe", "b.exe"});
  }
  for (const Case& c : cases) {
    RunOptions options;
    options.argv0 = c.argv0;
    for (const char* flag : {"-h", "--help"}) {
      const RunResult help = world.run("brelix", {flag}, options);
      EXPECT_EQ(help.status, 0);
      EXPECT_EQ(help.out, expected_help(c.name)) << c.argv0;
    }
    const RunResult error = world.run("brelix", {"--xyz"}, options);
    EXPECT_EQ(error.status, 2);
    EXPECT_NE(error.err.find("\nUsage: " + c.name + " [OPTIONS] [EXTRA]\n"), std::string::npos)
        << error.err;
    // The version line always uses the command name.
    EXPECT_EQ(world.run("brelix", {"-V"}, options).out, "brelix 0.1.0\n");
  }
}

// Each kind of report is matched byte for byte in process
// (tests/src/command_line_test.cpp); here, that the program prints one on
// standard error alone and ends with status 2.
TEST(CommandLineProgram, ReportsUsageErrorsOnStandardErrorWithStatusTwo) {
  World world;
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"--xyz"},
       "error: unexpected argument '--xyz' found\n"
       "\n"
       "  tip: to pass '--xyz' as a value, use '-- --xyz'\n"
       "\n"
       "Usage: brelix [OPTIONS] [EXTRA]\n"
       "\n"
       "For more information, try '--help'.\n"},
      {{"-o", "--boot"},
       expected_usage_error("a value is required for '--boot <BOOT>' but none was supplied",
                            std::nullopt, false)},
  };
  for (const Case& c : cases) {
    const RunResult result = world.run("brelix", c.args, as_brelix());
    EXPECT_EQ(result.status, 2) << joined(c.args);
    EXPECT_EQ(result.out, "") << joined(c.args);
    EXPECT_EQ(result.err, c.err) << joined(c.args);
  }
}

TEST(CommandLineProgram, ReportsAnArgumentThatIsNotUnicode) {
  if (on_windows()) {
    GTEST_SKIP() << "the test world passes Windows arguments as well-formed UTF-16 only";
  }
  World world;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"\xff"}, {"--boot", "a\xc3"}, {"-o", "--", "\xed\xa0\x80"}}) {
    const RunResult result = world.run("brelix", args, as_brelix());
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, expected_usage_error(
                              "invalid UTF-8 was detected in one or more arguments", std::nullopt));
  }
}

TEST(CommandLineProgram, KeepsTheStatusWhenTheHelpCannotBeWritten) {
  if (on_windows()) {
    GTEST_SKIP() << "no device that refuses every write";
  }
  World world;
  RunOptions full = as_brelix();
  full.stdout_path = "/dev/full";
  EXPECT_EQ(world.run("brelix", {"--help"}, full).status, 0);
  EXPECT_EQ(world.run("brelix", {"-V"}, full).status, 0);
  RunOptions closed = as_brelix();
  closed.close_stdout = true;
  const RunResult help = world.run("brelix", {"-h"}, closed);
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
}

TEST(CommandLineProgram, PipedOutputCarriesNoEscapeCodes) {
  World world;
  // Even a terminal type that would take colours changes nothing when the
  // streams are captured.
  world.set_env("TERM", "xterm-256color");
  world.unset_env("NO_COLOR");
  const RunResult help = world.run("brelix", {"--help"}, as_brelix());
  EXPECT_EQ(help.out, expected_help("brelix"));
  const RunResult error = world.run("brelix", {"--foo"}, as_brelix());
  EXPECT_EQ(error.err.find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace brelix::testing
