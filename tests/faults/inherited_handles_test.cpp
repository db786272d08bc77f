// The minifier is the one program a build starts, and it must get the
// standard streams and nothing else: a handle on a run's file left open in
// it would let it (or whatever it starts in turn) keep writing there after
// brelix has moved the file into place.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/faults/sample_world.h"

namespace brelix::testing {
namespace {

// The descriptors of this test program that a program it starts gets too,
// and that brelix therefore passes on without having opened them.
std::set<int> own_inheritable_descriptors() {
  std::set<int> out;
  for (int fd = 3; fd < 1024; ++fd) {
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0 && (flags & FD_CLOEXEC) == 0) out.insert(fd);
  }
  return out;
}

// The descriptors the stand-in logged, apart from its own listing of them.
std::set<int> logged_descriptors(const std::string& log, std::string& described) {
  std::set<int> out;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("open ")) continue;
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos) {
      ADD_FAILURE() << "not a descriptor line: " << line;
      continue;
    }
    if (line.substr(colon + 2).starts_with("/proc/")) continue;
    out.insert(std::stoi(line.substr(5, colon - 5)));
    described += line + "\n";
  }
  return out;
}

TEST(InheritedHandles, TheMinifierGetsTheStandardStreamsAndNothingElse) {
  // The log holds the minifier started last; a later bundle that fails
  // before its minifier starts leaves the earlier bundle's log, so every
  // JavaScript bundle of both packages is looked at once.
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {"Ombril - ux, the first of its run", {"-o", "$VTPATH/missing.js"}, 1},
      {"Ombril - system, after a bundle built", {"-o"}, 0},
      {"Veltrano - boot, the first of its run", {"-v", "--list", "$VTPATH/missing.js"}, 1},
      {"Veltrano - system, after a bundle built", {"-v"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World world;
    lay_out_sample(world);
    world.set_env("BRELIX_FAKE_UGLIFYJS_LOG", world.path("log"));
    std::set<int> expected = own_inheritable_descriptors();
    expected.insert({0, 1, 2});
    const RunResult run = world.run("brelix", c.args);
    ASSERT_EQ(run.status, c.status) << run.err;
    std::string described;
    EXPECT_EQ(logged_descriptors(world.read_file("log"), described), expected) << described;
  }
}

}  // namespace
}  // namespace brelix::testing
