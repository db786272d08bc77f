// Child processes of the platform layer, with the stand-in minifier built
// beside the tests as the child.

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "src/platform/platform.h"
#include "tests/support/world.h"

namespace brelix::platform {
namespace {

using testing::on_windows;
using testing::program_path;
using testing::World;

Result<ChildEnd> run(const std::string& program, const std::vector<std::string>& arguments) {
  Result<Child> child = start_command(program, arguments);
  if (!child) return std::unexpected(child.error());
  return child->wait();
}

TEST(Processes, HowTheChildEndedIsReported) {
  const std::string fake = program_path("fake_uglifyjs");
  struct Case {
    std::vector<std::string> arguments;
    bool signalled;
    std::uint32_t value;
  };
  // abort() ends a process by SIGABRT on POSIX and with status 3 on Windows.
  const Case cases[] = {
      {{"--exit", "0"}, false, 0},
      {{"--exit", "7"}, false, 7},
      {{"--exit", "255"}, false, 255},
      {{"--abort"}, !on_windows(), on_windows() ? 3u : static_cast<std::uint32_t>(SIGABRT)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0]);
    Result<ChildEnd> end = run(fake, c.arguments);
    ASSERT_TRUE(end) << end.error().message;
    EXPECT_EQ(end->signalled, c.signalled);
    EXPECT_EQ(end->value, c.value);
    EXPECT_EQ(end->success(), c.value == 0);
  }
}

TEST(Processes, EveryArgumentArrivesExactly) {
  // On Windows these pass through cmd and, there, through nothing else
  // that may interpret them; elsewhere no shell is involved at all.
  World world;
  const std::string log = world.path("args");
  std::vector<std::string> arguments = {
      "--echo",         log,          "plain",       "two words",
      "a&b|c",          "(x)^y",      "100%",        "!PATH!",
      "semi;comma,eq=", "trailing\\", "back\\slash", "C:\\a&b^c%BRELIX_TEST_UNSET%d!e(f) g\\out.js",
      "'single'",
  };
  if (!on_windows()) {
    // Wine's cmd expands a reference to a variable that is set even after
    // the caret that makes Windows' cmd leave it; and the stand-in reads
    // its arguments in the ANSI code page there.
    arguments.insert(arguments.end(), {"%PATH%", "a %PATH% b", "C:\\a&b^c%PATH%d", "é ü ∑"});
  }
  Result<ChildEnd> end = run(program_path("fake_uglifyjs"), arguments);
  ASSERT_TRUE(end) << end.error().message;
  ASSERT_TRUE(end->success()) << end->value;
  std::string expected;
  for (std::size_t i = 2; i < arguments.size(); ++i) expected += arguments[i] + "\n";
  EXPECT_EQ(world.read_file("args"), expected);
}

TEST(Processes, AProgramThatIsNotThereIsReported) {
  Result<ChildEnd> end = run("brelix-no-such-program-7f3a", {});
  if (on_windows()) {
    // cmd looks for it and says so on standard error; its status tells.
    ASSERT_TRUE(end) << end.error().message;
    EXPECT_FALSE(end->success());
  } else {
    ASSERT_FALSE(end);
    EXPECT_EQ(end.error().message, std::string(std::strerror(ENOENT)) + " (os error 2)");
  }
}

}  // namespace
}  // namespace brelix::platform
