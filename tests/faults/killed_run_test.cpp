// Whole Veltrano runs of the sample project killed by SIGKILL at random
// moments: whenever the run dies, each destination holds either its old
// content or the complete new output, the destinations come into place in
// the run's order, and nothing else in the world has changed. Runs
// interrupted by SIGINT, SIGTERM or SIGHUP while the minifier hangs stop it,
// remove their temporary folder and exit with 128 and the signal; and a
// minifier that reports success without leaving its output fails the run.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/faults/sample_build.h"
#include "tests/faults/sample_world.h"

namespace brelix::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kills = 60;
// Long enough that kills land inside the minifier too, short enough that
// reading, writing and moving still take a fair share of a run.
constexpr const char* minifier_delay = "slow:30";

// brelix in a process group of its own, so that the minifier it leaves
// behind when it dies can be found and ended too.
class Started {
 public:
  // Standard error goes to err_path when one is given.
  explicit Started(const World& world, const std::string& err_path = "/dev/null") {
    const CArguments arguments({program_path("brelix"), "--veltrano"}, world);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 1; ++fd)
      posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    if (posix_spawn(&pid_, arguments.argv()[0], &actions, &attributes, arguments.argv(),
                    arguments.envp()) != 0) {
      pid_ = -1;
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Started() { end_group(); }
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;

  bool running() const { return pid_ > 0; }

  // Waits for brelix itself; true when it exited with status 0.
  bool wait() {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  void kill_now() const { kill(pid_, SIGKILL); }
  void send(int signal) const { kill(pid_, signal); }
  pid_t pid() const { return pid_; }

  // Waits for brelix itself; its wait status.
  int wait_status() {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
  }

  // Ends what is left of the group: a minifier orphaned by the kill. The
  // test process is their subreaper, so they can be waited for as its own.
  void end_group() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGKILL);
#ifdef __linux__
    while (waitpid(-pid_, nullptr, 0) > 0 || errno == EINTR) {
    }
    // A minifier runs in a group of its own; orphaned, it ends soon and
    // is the subreaper's to collect.
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
#else
    const auto give_up = Clock::now() + std::chrono::seconds(10);
    while (kill(-pid_, 0) == 0 && Clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
#endif
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

class Subreaper {
 public:
#ifdef __linux__
  Subreaper() { prctl(PR_SET_CHILD_SUBREAPER, 1); }
  ~Subreaper() { prctl(PR_SET_CHILD_SUBREAPER, 0); }
#endif
};

// The left-overs of killed runs in the world's temporary folder: run
// folders holding working files, nothing else.
void expect_only_run_folders(const World& world) {
  const std::set<std::string> working = {"out-debug.js", "out.js", "out-debug.css", "out.css"};
  for (const auto& entry : fs::directory_iterator(world.path("tmp"))) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name.starts_with("brelix-") && entry.is_directory() && !entry.is_symlink()) << name;
    if (!entry.is_directory()) continue;
    for (const auto& inner : fs::directory_iterator(entry.path())) {
      EXPECT_TRUE(working.contains(inner.path().filename().string())) << inner.path();
    }
  }
}

TEST(KilledRun, EveryDestinationIsOldOrCompletelyNew) {
  const Subreaper subreaper;
  SampleBuild build;
  World& world = build.world();
  world.set_env("BRELIX_FAKE_UGLIFYJS", minifier_delay);
  const std::vector<std::string>& destinations = build.destinations();

  // The complete new outputs, from a run left alone.
  build.plant_old_content();
  const RunResult reference = world.run("brelix", {"--veltrano"});
  ASSERT_EQ(reference.status, 0) << reference.err;
  const std::vector<std::string> fresh = build.read_destinations();
  for (std::size_t i = 0; i < destinations.size(); ++i) {
    ASSERT_NE(fresh[i], build.old_content(destinations[i])) << destinations[i];
  }
  const std::map<std::string, std::string> others = build.other_files();
  const std::vector<std::string> beside = build.beside_world();

  // How long a whole run takes here, started as the killed runs are: the
  // middle of three, as the first may still find the caches cold.
  std::vector<Clock::duration> wholes;
  for (int i = 0; i < 3; ++i) {
    build.plant_old_content();
    const auto start = Clock::now();
    Started run(world);
    ASSERT_TRUE(run.running());
    ASSERT_TRUE(run.wait());
    wholes.push_back(Clock::now() - start);
  }
  std::sort(wholes.begin(), wholes.end());
  const auto span =
      std::chrono::duration_cast<std::chrono::microseconds>(wholes[1]).count() * 11 / 10;

  const std::uint64_t seed = fault_seed();
  SCOPED_TRACE("seed " + std::to_string(seed) + " (set BRELIX_FAULT_SEED to repeat), runs of " +
               std::to_string(span) + " us");
  std::mt19937_64 random(seed);
  std::uniform_int_distribution<long long> moment(0, span);

  std::vector<int> in_place(destinations.size() + 1, 0);
  for (int k = 0; k < kills; ++k) {
    build.plant_old_content();
    const long long at = moment(random);
    {
      Started run(world);
      ASSERT_TRUE(run.running());
      std::this_thread::sleep_for(std::chrono::microseconds(at));
      run.kill_now();
      run.wait();
    }
    const std::vector<std::string> now = build.read_destinations();
    std::size_t fresh_count = 0;
    while (fresh_count < now.size() && now[fresh_count] == fresh[fresh_count]) ++fresh_count;
    for (std::size_t i = fresh_count; i < now.size(); ++i) {
      EXPECT_EQ(now[i], build.old_content(destinations[i]))
          << destinations[i] << " after a kill at " << at << " us: " << now[i].size()
          << " bytes, the new output has " << fresh[i].size()
          << (i > fresh_count && now[i] == fresh[i] ? ", in place before an earlier destination"
                                                    : "");
    }
    ++in_place[fresh_count];
    EXPECT_EQ(build.other_files(), others) << "after a kill at " << at << " us";
    EXPECT_EQ(build.beside_world(), beside);
    expect_only_run_folders(world);
    if (HasFailure()) break;
  }
  std::string spread;
  for (std::size_t i = 0; i < in_place.size(); ++i)
    spread += " " + std::to_string(i) + ":" + std::to_string(in_place[i]);
  std::cout << "kills by destinations in place:" << spread << "\n";
}

#ifdef __linux__
// The minifier the run started, once it has; 0 if it never does.
pid_t minifier_of(const Started& run) {
  const std::string pid = std::to_string(run.pid());
  pid_t child = 0;
  for (const auto give_up = Clock::now() + std::chrono::seconds(30);
       child == 0 && Clock::now() < give_up;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::ifstream("/proc/" + pid + "/task/" + pid + "/children") >> child;
  }
  return child;
}

// While the minifier runs: an interruption, or what another user could do
// where the temporary folder lets them, the run's folder renamed away and
// a link to their folder put in its place (signal 0).
TEST(KilledRun, AnInterruptionOrASwappedFolderWhileTheMinifierRuns) {
  SampleBuild build;
  World& world = build.world();
  world.write_file("theirs/out-debug.js", "theirs");
  struct Case {
    int signal;
    const char* minifier;
    int status;
  };
  for (const Case c : {Case{SIGINT, "slow:600000", 130}, Case{SIGTERM, "slow:600000", 143},
                       Case{SIGHUP, "slow:600000", 129}, Case{0, "slow:1500", 1}}) {
    SCOPED_TRACE(c.signal);
    world.set_env("BRELIX_FAKE_UGLIFYJS", c.minifier);
    build.plant_old_content();
    Started run(world, world.path("scratch/err"));
    const pid_t minifier = minifier_of(run);
    ASSERT_NE(minifier, 0) << "the minifier never started";
    const std::string folder = fs::directory_iterator(world.path("tmp"))->path().string();
    if (c.signal != 0) {
      run.send(c.signal);
    } else {
      fs::rename(folder, world.path("scratch/moved-away"));
      fs::create_directory_symlink(world.path("theirs"), folder);
    }
    const int status = run.wait_status();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.status) << "wait status " << status;
    EXPECT_EQ(world.read_file("scratch/err"), c.signal != 0
                                                  ? ""
                                                  : "Error: the run's temporary folder " + folder +
                                                        " was replaced while the run used it\n");
    EXPECT_TRUE(::kill(minifier, 0) != 0 && errno == ESRCH) << "the minifier outlived the run";
    for (const std::string& destination : build.destinations()) {
      EXPECT_EQ(world.read_file(destination), build.old_content(destination)) << destination;
    }
    // Cleaning up takes the run's own files only, wherever its folder went.
    EXPECT_EQ(world.read_file("theirs/out-debug.js"), "theirs");
    EXPECT_TRUE(fs::is_empty(c.signal != 0 ? world.path("tmp") : world.path("scratch/moved-away")));
  }
}
#endif

TEST(KilledRun, AMinifierThatSucceedsWithoutItsOutputFailsTheRun) {
  SampleBuild build;
  World& world = build.world();
  struct Case {
    const char* mode;
    const char* source;  // the bundle's one source
    std::string err;     // empty: the run succeeds
  };
  const Case cases[] = {
      {"empty", "boot();\n", "Error: uglifyjs exited with status 0 but left its output empty\n"},
      {"delete", "boot();\n", "Error: uglifyjs exited with status 0 but left no output file\n"},
      // Nothing but comments minifies to nothing, rightly.
      {"empty", "// nothing yet\n/* still\n nothing */\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " after " + c.source);
    world.write_file("sample/veltrano/only.js", c.source);
    world.set_env("BRELIX_FAKE_UGLIFYJS", c.mode);
    // Both Ombril bundles of the one source (the second through the extra
    // list): no importer, no extras, the release file is the minifier's.
    const std::string release = "sample/ombril/app/ux.js";
    world.write_file(release, build.old_content(release));
    const RunResult run =
        world.run("brelix", {"--ombril", "--list", "$VTPATH/only.js", "$VTPATH/only.js"});
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.err.empty() ? 0 : 1);
    EXPECT_EQ(world.read_file(release), c.err.empty() ? std::string() : build.old_content(release));
    EXPECT_TRUE(fs::is_empty(world.path("tmp")));
  }
}

// Killed while the minifiers run and while their results are stored: the
// cache then holds whole entries and, at most, temporary files.
TEST(KilledRun, LeavesNoPartialCacheEntryUnderAFinalName) {
  const Subreaper subreaper;
  SampleBuild build;
  World& world = build.world();
  world.set_env("BRELIX_FAKE_UGLIFYJS", minifier_delay);
  world.set_env("BRELIX_CACHE_DIR", world.path("scratch/cache"));
  const std::string system =
      "sample/veltrano/" + std::string(catalogue::veltrano_system.files.back().substr(8));
  const std::string system_text = world.read_file(system);
  // A new text each round, so that every run stores.
  auto change_sources = [&](int round) {
    world.write_file(system, system_text + "var round = " + std::to_string(round) + ";\n");
  };
  change_sources(-1);
  const auto start = Clock::now();
  ASSERT_EQ(world.run("brelix", {"--veltrano"}).status, 0);
  const long long span =
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();

  const std::uint64_t seed = fault_seed();
  SCOPED_TRACE("seed " + std::to_string(seed) + " (set BRELIX_FAULT_SEED to repeat)");
  std::mt19937_64 random(seed);
  std::uniform_int_distribution<long long> moment(span / 3, span);
  for (int k = 0; k < kills / 2; ++k) {
    change_sources(k);
    Started run(world);
    ASSERT_TRUE(run.running());
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    run.kill_now();
    run.wait();
  }
  EXPECT_GE(whole_cache_entries(world, "scratch/cache"), 2u);
}

}  // namespace
}  // namespace brelix::testing
