// Veltrano runs of the sample project in which one write to a file is
// refused, as a full or failing disk refuses it, for each write the run
// makes in turn: the run ends with status 1 and the system's error, writes
// nothing more, leaves every destination it had not finished untouched and
// removes its temporary folder. A preloaded library refuses the write; where
// it does not load, the tests are skipped rather than passed.
//
// In runs of the whole catalogue, six hundred writes long, a random choice
// of them: the program's own system calls, so that a write made past the
// builds' Env is caught too. Each write and sync of a build refused in turn,
// with plain and with copying moves, is tested in process through the Env
// (tests/src/bundle/builds_test.cpp); what only the system can do stays
// here: an fsync or close that fails, and an interruption while a move
// copies, where a real signal reaches the program.

#include <stdlib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/faults/sample_build.h"

namespace brelix::testing {
namespace {

namespace fs = std::filesystem;

std::size_t entries_in(const std::string& folder) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++n;
  return n;
}

class RefusedWrites {
 public:
  // temporary: the folder TMPDIR names, which each run must leave empty.
  RefusedWrites(SampleBuild& build, std::string temporary)
      : build_(build), temporary_(std::move(temporary)) {
    World& world = build_.world();
    world.set_env("TMPDIR", temporary_);
    world.set_env("TMP", temporary_);
    world.set_env("TEMP", temporary_);
    world.set_env("LD_PRELOAD", BRELIX_REFUSE_WRITES);
    world.set_env("REFUSE_WRITES_SENTINEL", sentinel());
    world.set_env("REFUSE_WRITES_LOG", log());
    // The sanitizers' runtime wants to be loaded first, which a preloaded
    // library prevents; it works all the same.
    const auto env = world.environment();
    const auto asan = env.find("ASAN_OPTIONS");
    world.set_env("ASAN_OPTIONS",
                  (asan != env.end() && !asan->second.empty() ? asan->second + ":" : "") +
                      "verify_asan_link_order=0");
  }

  // Runs the build with the given write refused (none for 0); the writes it
  // attempted come back in `writes`, one line each.
  RunResult run(long refused, int error) {
    fs::remove(sentinel());
    fs::remove(log());
    World& world = build_.world();
    world.set_env("REFUSE_WRITES_FAIL_AT", std::to_string(refused));
    world.set_env("REFUSE_WRITES_ERRNO", std::to_string(error));
    RunResult result = world.run("brelix", args);
    loaded = fs::exists(sentinel());
    writes = fs::exists(log())
                 ? lines_of(world.read_file(std::string(SampleBuild::scratch) + "/writes"))
                 : std::vector<std::string>{};
    return result;
  }

  // Each write refused in turn, from the first to the last a whole run
  // makes, or with a seed, a random few of them and the first and last.
  void refuse_each(std::optional<std::uint64_t> seed = std::nullopt) {
    build_.plant_old_content();
    const RunResult whole = run(0, 0);
    if (!loaded)
      GTEST_SKIP() << "the write-refusing library did not load: " << BRELIX_REFUSE_WRITES;
    ASSERT_EQ(whole.status, 0) << whole.err;
    ASSERT_GT(writes.size(), 0u);
    counted = writes;
    const std::size_t count = counted.size();
    const std::vector<std::string> fresh = build_.read_destinations();
    const std::map<std::string, std::string> others = build_.other_files();
    const std::vector<std::string> beside = build_.beside_world();
    const std::vector<std::string>& destinations = build_.destinations();

    std::vector<std::size_t> chosen;
    for (std::size_t n = 1; n <= count; ++n) chosen.push_back(n);
    if (seed && count > 2) {
      std::mt19937_64 random(*seed);
      std::shuffle(chosen.begin() + 1, chosen.end() - 1, random);
      chosen.erase(chosen.begin() +
                       std::min<std::ptrdiff_t>(sampled, static_cast<std::ptrdiff_t>(count) - 1),
                   chosen.end() - 1);
    }
    for (const std::size_t n : chosen) {
      build_.plant_old_content();
      const int error = n % 2 == 1 ? ENOSPC : EIO;
      const RunResult refused = run(static_cast<long>(n), error);
      ASSERT_TRUE(loaded);
      const std::string which = "write " + std::to_string(n) + " of " + std::to_string(count) +
                                " (" + counted[n - 1] + ")";
      EXPECT_EQ(writes.size(), n) << which;
      EXPECT_EQ(refused.status, 1) << which << "\n" << refused.err;
      // The system's text first, then what was being written: a working
      // file in the run's folder, or a copy beside a destination.
      const std::string first = "Error: " + std::string(std::strerror(error)) + " (os error " +
                                std::to_string(error) + ")\n\nCaused by:\n    ";
      EXPECT_TRUE(refused.err.starts_with(first + "writing ") ||
                  refused.err.starts_with(first + "moving into place "))
          << which << "\n"
          << refused.err;

      // The bundles done before the refusal are in place, the rest not; a
      // move between file systems copies into the destination's folder, and
      // the release output's copy comes after the debug output is in place.
      std::size_t done = 0;
      for (const std::string& line : lines_of(refused.out))
        done += line.ends_with(": done") ? 1u : 0u;
      // The debug output's copy is the write just before the release's.
      const bool copying_release = n >= 2 && is_copy(counted[n - 1]) && is_copy(counted[n - 2]);
      const std::size_t in_place = 2 * done + (copying_release ? 1 : 0);
      const std::vector<std::string> now = build_.read_destinations();
      for (std::size_t i = 0; i < now.size(); ++i) {
        if (i < in_place) {
          EXPECT_EQ(now[i], fresh[i]) << destinations[i] << " after a refused " << which;
        } else {
          EXPECT_EQ(now[i], build_.old_content(destinations[i]))
              << destinations[i] << " after a refused " << which;
        }
      }
      EXPECT_EQ(entries_in(temporary_), 0u)
          << "the run's temporary folder after a refused " << which;
      EXPECT_EQ(build_.other_files(), others) << "after a refused " << which;
      EXPECT_EQ(build_.beside_world(), beside);
      if (::testing::Test::HasFailure()) return;
    }
  }

  static bool is_copy(const std::string& write) {
    return write.find("/.brelix-move-") != std::string::npos;
  }

  static constexpr std::ptrdiff_t sampled = 40;

  std::vector<std::string> args = {"--veltrano"};
  bool loaded = false;
  std::vector<std::string> writes;   // the last run's
  std::vector<std::string> counted;  // a whole run's

 private:
  std::string sentinel() const {
    return build_.world().path(std::string(SampleBuild::scratch) + "/loaded");
  }
  std::string log() const {
    return build_.world().path(std::string(SampleBuild::scratch) + "/writes");
  }

  SampleBuild& build_;
  std::string temporary_;
};

TEST(RefusedWrite, WritesOfAWholeCatalogueRun) {
  SampleBuild build;
  RefusedWrites refusing(build, build.world().path("tmp"));
  const std::uint64_t seed = fault_seed();
  SCOPED_TRACE("seed " + std::to_string(seed) + " (set BRELIX_FAULT_SEED to repeat)");
  refusing.refuse_each(seed);
}

// The system's own fsync and close failures, which the Env's stand-in for
// a sync cannot reach: the platform layer reports them.
TEST(RefusedWrite, ASyncOrCloseOfAWorkingFileThatFails) {
  SampleBuild build;
  World& world = build.world();
  struct Case {
    const char* variable;
    const char* at;
    int error;
    const char* named;  // in the path of the file the report names
  };
  const Case cases[] = {
      {"REFUSE_WRITES_SYNC_AT", "1", EIO, "/out.js"},
      {"REFUSE_WRITES_CLOSE_AT", "1", ENOSPC, "/out.js"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.variable) + "=" + c.at);
    const std::string temporary = world.path("tmp");
    RefusedWrites refusing(build, temporary);
    build.plant_old_content();
    const std::map<std::string, std::string> others = build.other_files();
    world.set_env(c.variable, c.at);
    const RunResult run = refusing.run(0, c.error);
    world.unset_env(c.variable);
    if (!refusing.loaded)
      GTEST_SKIP() << "the write-refusing library did not load: " << BRELIX_REFUSE_WRITES;
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.starts_with("Error: could not finish writing ") &&
                run.err.find(c.named) != std::string::npos &&
                run.err.ends_with("\n\nCaused by:\n    " + std::string(std::strerror(c.error)) +
                                  " (os error " + std::to_string(c.error) + ")\n"))
        << run.err;
    EXPECT_EQ(build.other_files(), others);
    EXPECT_EQ(entries_in(temporary), 0u);
  }
}

// A folder of the test's own on another file system than the world, where
// there is one: the build's moves then copy into the destinations' folders.
class ForeignFolder {
 public:
  explicit ForeignFolder(const std::string& beside) {
    struct stat here {};
    struct stat there {};
    if (::stat(beside.c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0 ||
        here.st_dev == there.st_dev)
      return;
    std::string pattern = "/dev/shm/brelix-faults-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path = pattern;
  }
  ~ForeignFolder() {
    std::error_code ignored;
    if (path) fs::remove_all(*path, ignored);
  }
  ForeignFolder(const ForeignFolder&) = delete;
  ForeignFolder& operator=(const ForeignFolder&) = delete;

  std::optional<std::string> path;
};

TEST(RefusedWrite, AnInterruptionWhileAMoveCopiesRemovesTheCopy) {
  SampleBuild build;
  const ForeignFolder temporary(build.world().root());
  if (!temporary.path)
    GTEST_SKIP() << "no /dev/shm on another file system than " << build.world().root();
  RefusedWrites refusing(build, *temporary.path);
  build.plant_old_content();
  const std::map<std::string, std::string> others = build.other_files();
  (void)refusing.run(0, 0);
  if (!refusing.loaded)
    GTEST_SKIP() << "the write-refusing library did not load: " << BRELIX_REFUSE_WRITES;
  const auto copy =
      std::find_if(refusing.writes.begin(), refusing.writes.end(), RefusedWrites::is_copy);
  ASSERT_NE(copy, refusing.writes.end());
  build.plant_old_content();
  build.world().set_env("REFUSE_WRITES_TERM_AT",
                        std::to_string(copy - refusing.writes.begin() + 1));
  const RunResult run = refusing.run(0, 0);
  EXPECT_EQ(run.status, 143) << run.err;
  EXPECT_EQ(build.other_files(), others);
  EXPECT_EQ(entries_in(*temporary.path), 0u);
  for (const std::string& destination : build.destinations()) {
    EXPECT_EQ(build.world().read_file(destination), build.old_content(destination)) << destination;
  }
}

}  // namespace
}  // namespace brelix::testing
