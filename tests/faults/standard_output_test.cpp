// Standard output that refuses to be written: the device that is always
// full, a descriptor that is closed, and a pipe nobody reads any more. A
// build that cannot print its progress stops with a fault and touches no
// destination; help, version and usage errors keep their statuses, since
// their text is all they had to give.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/faults/sample_world.h"

namespace brelix::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* progress_fault = "could not write a progress line to standard output\n";

enum class Refusal { full_device, closed, broken_pipe };

const char* describe(Refusal refusal) {
  switch (refusal) {
    case Refusal::full_device:
      return "/dev/full";
    case Refusal::closed:
      return "closed";
    case Refusal::broken_pipe:
      return "pipe without a reader";
  }
  return "?";
}

constexpr Refusal all_refusals[] = {Refusal::full_device, Refusal::closed, Refusal::broken_pipe};

// A started program: its process and where its standard error goes.
struct Started {
  pid_t pid = -1;
  std::string err_path;
};

// Starts a program built with the project in the world's environment, with
// standard input empty, standard output the descriptor out (closed when
// -1) and standard error captured. SIGPIPE is at its default in it, as a
// shell leaves it, whatever this test program does with it.
Started start(const World& world, const std::vector<std::string>& args, int out) {
  static int runs = 0;
  Started started;
  started.err_path = world.path("err-" + std::to_string(++runs));
  const std::string executable = program_path("brelix");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (out < 0) {
    posix_spawn_file_actions_addclose(&actions, 1);
  } else {
    posix_spawn_file_actions_adddup2(&actions, out, 1);
  }
  posix_spawn_file_actions_addopen(&actions, 2, started.err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> texts = {"brelix"};
  texts.insert(texts.end(), args.begin(), args.end());
  const CArguments arguments(std::move(texts), world);

  const int error = posix_spawn(&started.pid, executable.c_str(), &actions, &attributes,
                                arguments.argv(), arguments.envp());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    ADD_FAILURE() << "could not start " << executable;
    started.pid = -1;
  }
  return started;
}

// The exit status, or 128 and the signal that ended the program.
int wait_for(const Started& started) {
  if (started.pid < 0) return -1;
  int status = 0;
  while (::waitpid(started.pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

struct Ended {
  int status = -1;
  std::string err;
};

// Runs brelix with standard output refused in the given way.
Ended run_refused(const World& world, const std::vector<std::string>& args, Refusal refusal) {
  int out = -1;
  if (refusal == Refusal::full_device) {
    out = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  } else if (refusal == Refusal::broken_pipe) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) == 0) {
      ::close(ends[0]);
      out = ends[1];
    }
  }
  if (refusal != Refusal::closed && out < 0) {
    ADD_FAILURE() << "could not make " << describe(refusal);
    return {};
  }
  const Started started = start(world, args, out);
  if (out >= 0) ::close(out);
  Ended ended;
  ended.status = wait_for(started);
  ended.err = world.read_file(fs::path(started.err_path).filename().string());
  return ended;
}

std::vector<std::string> entries(const World& world, std::string_view folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(world.path(folder)))
    names.push_back(entry.path().filename().string());
  return names;
}

void plant_old_outputs(const World& world) {
  for (bool veltrano : {false, true}) {
    for (const std::string& output : package_outputs(veltrano))
      world.write_file(output, "old " + output);
  }
}

void expect_old_outputs(const World& world) {
  for (bool veltrano : {false, true}) {
    for (const std::string& output : package_outputs(veltrano)) {
      EXPECT_EQ(world.read_file(output), "old " + output);
    }
  }
}

TEST(StandardOutput, ABuildThatCannotPrintItsProgressStopsBeforeItTouchesAnything) {
  World world;
  lay_out_sample(world);
  plant_old_outputs(world);
  for (Refusal refusal : all_refusals) {
    for (const char* package : {"-o", "-v"}) {
      SCOPED_TRACE(std::string(describe(refusal)) + " " + package);
      const Ended ended = run_refused(world, {package}, refusal);
      EXPECT_EQ(ended.status, 101) << ended.err;
      EXPECT_TRUE(ended.err.ends_with(progress_fault)) << ended.err;
      expect_old_outputs(world);
      // The first line comes before the run has a folder of its own.
      EXPECT_TRUE(entries(world, "tmp").empty());
    }
  }
}

TEST(StandardOutput, HelpVersionAndUsageErrorsKeepTheirStatus) {
  World world;
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {{{"--help"}, 0}, {{"-h"}, 0},           {{"-V"}, 0}, {{"--version"}, 0},
                        {{"--xyz"}, 2},  {{"-o", "a", "b"}, 2}, {{"-l"}, 2}};
  for (const Case& c : cases) {
    // What it says on standard error when its output is captured.
    const RunResult normal = world.run("brelix", c.args);
    ASSERT_EQ(normal.status, c.status) << c.args[0];
    for (Refusal refusal : all_refusals) {
      SCOPED_TRACE(std::string(describe(refusal)) + " " + c.args[0]);
      const Ended ended = run_refused(world, c.args, refusal);
      EXPECT_EQ(ended.status, c.status);
      EXPECT_EQ(ended.err, normal.err);
    }
  }
}

TEST(StandardOutput, AReaderThatGoesAwayMidBuildStopsTheRunBeforeAnyMove) {
  World world;
  lay_out_sample(world);
  plant_old_outputs(world);
  // The minifier waits until the test has closed the pipe, so the next
  // progress line is the first write that fails, whatever the timing.
  fs::rename(world.path("bin/uglifyjs"), world.path("bin/real-uglifyjs"));
  const std::string gate = world.path("gate");
  world.write_file("bin/uglifyjs",
                   "#!/bin/sh\n"
                   "i=0\n"
                   "while [ ! -e '" +
                       gate +
                       "' ]; do\n"
                       "  i=$((i + 1)); [ \"$i\" -gt 1200 ] && exit 1\n"
                       "  sleep 0.05\n"
                       "done\n"
                       "exec '" +
                       world.path("bin/real-uglifyjs") + "' \"$@\"\n");
  fs::permissions(world.path("bin/uglifyjs"), fs::perms::owner_all);

  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  const Started started = start(world, {"-v"}, ends[1]);
  ::close(ends[1]);
  std::string seen;
  const std::string awaited = "Veltrano - boot: Processing files\n";
  char buffer[4096];
  while (seen.find(awaited) == std::string::npos) {
    const ssize_t got = ::read(ends[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(ends[0]);
  world.write_file("gate", "");
  const int status = wait_for(started);
  const std::string err = world.read_file(fs::path(started.err_path).filename().string());

  EXPECT_NE(seen.find(awaited), std::string::npos) << seen;
  EXPECT_EQ(status, 101) << err;
  EXPECT_TRUE(err.ends_with(progress_fault)) << err;
  expect_old_outputs(world);
  // After a fault the run's folder stays, with the finished files in it.
  const std::vector<std::string> left = entries(world, "tmp");
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(left[0].starts_with("brelix-")) << left[0];
  const std::vector<std::string> files = entries(world, "tmp/" + left[0]);
  EXPECT_EQ(std::set<std::string>(files.begin(), files.end()),
            (std::set<std::string>{"out-debug.js", "out.js"}));
}

}  // namespace
}  // namespace brelix::testing
