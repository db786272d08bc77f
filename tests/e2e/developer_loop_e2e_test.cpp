// Debug-only builds, destinations kept when unchanged, destination folders
// checked first, and the minifier's clock, from outside.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/world.h"

namespace brelix::testing {
namespace {

namespace fs = std::filesystem;

// The stand-in as uglifyjs on PATH, logging each run to "log".
class LoopWorld : public World {
 public:
  LoopWorld() {
    make_dir("bin");
    make_dir("dest");
    write_file("src/a.js", "a();\n");
    fs::copy_file(program_path("fake_uglifyjs"),
                  path("bin/uglifyjs") + (on_windows() ? ".exe" : ""));
    std::string bin = path("bin"), log = path("log");
    if (on_windows()) std::replace(bin.begin(), bin.end(), '/', '\\');
    if (on_windows()) std::replace(log.begin(), log.end(), '/', '\\');
    set_env("PATH", bin + (on_windows() ? ";C:\\windows\\system32" : ":/usr/bin:/bin"));
    set_env("BRELIX_FAKE_UGLIFYJS_LOG", log);
  }
  std::vector<std::string> args(const char* out = "dest/out.js",
                                const char* out_debug = "dest/out-debug.js") const {
    return {"B", path(out), path(out_debug), "-", path("src/a.js")};
  }
  // Moves the file's modification time a day back and returns it.
  fs::file_time_type age(const std::string& relative) const {
    const fs::file_time_type old = fs::last_write_time(path(relative)) - std::chrono::hours(24);
    fs::last_write_time(path(relative), old);
    return old;
  }
};

TEST(DeveloperLoop, DebugOnlyLeavesEveryReleaseOutputAsItWasAndStartsNoMinifier) {
  LoopWorld world;
  ASSERT_EQ(world.run("make_sample_project", {world.path("sample")}).status, 0);
  world.set_env("VTPATH", world.path("sample/veltrano"));
  ASSERT_EQ(world.run("brelix", {"-v"}).status, 0);
  const std::string releases[] = {"sample/veltrano/system-boot.js", "sample/veltrano/system.js",
                                  "sample/veltrano/system-styles.css"};
  std::vector<std::pair<std::string, fs::file_time_type>> before;
  for (const std::string& release : releases)
    before.emplace_back(world.read_file(release), world.age(release));
  const std::string edited = "sample/veltrano/app/report/Viewer.js";
  world.write_file(edited, world.read_file(edited) + "var edited = 1;\n");
  fs::remove(world.path("log"));
  world.set_env("BRELIX_DEBUG_ONLY", "1");

  const RunResult run = world.run("brelix", {"-v"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_FALSE(world.exists("log"));
  for (std::size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(world.read_file(releases[i]), before[i].first) << releases[i];
    EXPECT_EQ(fs::last_write_time(world.path(releases[i])), before[i].second) << releases[i];
  }
  EXPECT_NE(world.read_file("sample/veltrano/system-debug.js").find("var edited = 1;\n"),
            std::string::npos);
  for (const char* bundle : {"Veltrano - boot", "Veltrano - system", "Veltrano - css"}) {
    const std::string b(bundle);
    EXPECT_NE(run.out.find(b + ": Processing files\n" + b +
                           ": Release output not rebuilt (BRELIX_DEBUG_ONLY)\n" + b + ": "),
              std::string::npos)
        << run.out;
  }
}

TEST(DeveloperLoop, ADestinationFolderThatCannotTakeItsOutputFailsBeforeTheSourcesAreRead) {
  // Wine words the system's text for error 3 otherwise than Windows.
  const std::string missing = std::string(std::strerror(ENOENT)) + " (os error 2)";
  struct Case {
    const char* what;
    const char *out, *out_debug;
    bool debug_only;
    std::string failed_folder;  // "" when the build succeeds
  };
  const Case cases[] = {
      {"debug folder", "dest/out.js", "nowhere/out-debug.js", false, "nowhere"},
      {"release folder", "gone/out.js", "dest/out-debug.js", false, "gone"},
      {"release folder, debug only", "gone/out.js", "dest/out-debug.js", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoopWorld world;
    if (c.debug_only) world.set_env("BRELIX_DEBUG_ONLY", "1");
    const RunResult run = world.run("build_js_runner", world.args(c.out, c.out_debug));
    EXPECT_EQ(run.status, c.failed_folder.empty() ? 0 : 1) << run.err;
    if (c.failed_folder.empty()) continue;
    EXPECT_EQ(run.out, "B: start\n");
    const std::string cause =
        "\n\nCaused by:\n    the destination folder " + world.path(c.failed_folder) + "\n";
    if (on_windows()) {
      EXPECT_TRUE(run.err.starts_with("Error: ") && run.err.ends_with(" (os error 3)" + cause))
          << run.err;
    } else {
      EXPECT_EQ(run.err, "Error: " + missing + cause);
    }
    EXPECT_FALSE(world.exists("log"));
  }
}

TEST(DeveloperLoop, KeepUnchangedLeavesADestinationWithTheSameBytesAlone) {
  struct Case {
    const char* what;
    bool keep;
    const char* source;
    bool kept;
  };
  const Case cases[] = {
      {"same bytes", true, "a();\n", true},
      {"other bytes", true, "b();\n", false},
      {"same bytes, switch off", false, "a();\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoopWorld world;
    world.set_env("BRELIX_KEEP_UNCHANGED", "1");
    ASSERT_EQ(world.run("build_js_runner", world.args()).status, 0);
    if (!c.keep) world.unset_env("BRELIX_KEEP_UNCHANGED");
    world.write_file("src/a.js", c.source);
    std::vector<fs::file_time_type> times;
    for (const char* output : {"dest/out.js", "dest/out-debug.js"}) {
      fs::create_hard_link(world.path(output), world.path(output) + ".link");
      times.push_back(world.age(output));
    }
    ASSERT_EQ(world.run("build_js_runner", world.args()).status, 0);
    EXPECT_EQ(world.read_file("dest/out.js"), std::string("/*min*/") + c.source);
    std::size_t i = 0;
    for (const char* output : {"dest/out.js", "dest/out-debug.js"}) {
      EXPECT_EQ(fs::equivalent(world.path(output), world.path(output) + ".link"), c.kept);
      EXPECT_EQ(fs::last_write_time(world.path(output)) == times[i++], c.kept) << output;
    }
    EXPECT_TRUE(fs::is_empty(world.path("tmp"))) << "the working files are gone";
  }
}

TEST(DeveloperLoop, TheClockRunsOnAConsoleOnlyAndTheMinifiersMessagesStayWhole) {
  LoopWorld world;
  world.set_env("BRELIX_FAKE_UGLIFYJS", "warn:500");
  const RunResult redirected = world.run("build_js_runner", world.args());
  EXPECT_EQ(redirected.out,
            "B: start\nB: Concatenating files\nB: Concatenating done\nB: Processing files\n"
            "B: done\n\n");
  EXPECT_EQ(redirected.err, on_windows() ? "fake: a warning\r\n" : "fake: a warning\n");
  if (on_windows() || !fs::exists("/usr/bin/script")) GTEST_SKIP() << "no script(1)";

  // The same build on a pseudo-terminal, standard error on it too.
  std::string command = "'" + program_path("build_js_runner") + "'";
  for (const std::string& arg : world.args()) command += " '" + arg + "'";
  const auto on_terminal = [&](const char* term) {
    world.set_env("TERM", term);
    const RunResult run = world.run_path("/usr/bin/script", {"-qfec", command, "/dev/null"});
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
  };
  const std::string shown = on_terminal("xterm");
  const std::string blank = "\r" + std::string(std::strlen("B: Minifying, 0.2 s"), ' ') + "\r";
  // Drawn over itself after the last progress line, erased before the
  // warning and again before the next progress line.
  const std::size_t first = shown.find("B: Processing files\r\n\rB: Minifying, 0.");
  const std::size_t warning = shown.find(blank + "fake: a warning\r\n\rB: Minifying, ");
  const std::size_t done = shown.find(blank + "B: done\r\n\r\n");
  EXPECT_TRUE(first != std::string::npos && first < warning && warning < done &&
              done + blank.size() + 11 == shown.size())
      << shown;
  EXPECT_EQ(on_terminal("dumb"),
            "B: start\r\nB: Concatenating files\r\nB: Concatenating done\r\n"
            "B: Processing files\r\nfake: a warning\r\nB: done\r\n\r\n");
}

}  // namespace
}  // namespace brelix::testing
