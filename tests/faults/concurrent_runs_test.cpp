// Runs at the same time that share one temporary folder, each with its own
// project: every run assembles its bundles in a folder of its own there,
// so none can take or overwrite another's files, and each removes only
// its own folder.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/faults/sample_world.h"

namespace brelix::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t run_count = 16;

// Text of run i's own in the first source of every bundle, which survives
// the stand-in minifier and the CSS minifier alike.
std::string js_mark(std::size_t i) {
  return "var run" + std::to_string(i) + " = " + std::to_string(i) + ";\n";
}
std::string css_mark(std::size_t i) {
  return ".run-" + std::to_string(i) + "{order:" + std::to_string(i) + "}\n";
}

void mark_sources(const World& world, std::size_t i) {
  for (const catalogue::BundleEntry* entry : catalogue::all_bundles) {
    const std::string first = sample_relative(entry->files.front());
    const bool css = entry->build == catalogue::Build::css;
    world.write_file(first, world.read_file(first) + (css ? css_mark(i) : js_mark(i)));
  }
}

bool is_empty_folder(const World& world, std::string_view folder) {
  return fs::is_empty(world.path(folder));
}

// Sixteen runs at once in one temporary folder; with a cache, all share
// it too, and every four build the same project, so that they race for
// the same entries.
void run_sixteen(bool cached) {
  World shared;  // only its temporary folder, minifier and cache are used
  shared.make_dir("bin");
  fs::copy_file(program_path("fake_uglifyjs"), shared.path("bin/uglifyjs"));
  std::vector<std::unique_ptr<World>> worlds;
  std::vector<std::string> packages;
  std::vector<std::map<std::string, std::string>> expected(run_count);
  for (std::size_t i = 0; i < run_count; ++i) {
    worlds.push_back(std::make_unique<World>());
    World& world = *worlds.back();
    lay_out_sample(world);
    mark_sources(world, cached ? i % 4 : i);
    const bool veltrano = i % 2 == 0;
    packages.push_back(veltrano ? "-v" : "-o");
    // The expectation: the same project built alone, in a temporary folder
    // of its own.
    const RunResult alone = world.run("brelix", {packages.back()});
    ASSERT_EQ(alone.status, 0) << alone.err;
    for (const std::string& output : package_outputs(veltrano)) {
      expected[i][output] = world.read_file(output);
      std::string mark =
          output.ends_with(".css") ? css_mark(cached ? i % 4 : i) : js_mark(cached ? i % 4 : i);
      mark.pop_back();  // the minified style sheet has no line feed after it
      EXPECT_NE(expected[i][output].find(mark), std::string::npos) << output;
      world.write_file(output, "stale");
    }
    for (const char* variable : {"TMPDIR", "TMP", "TEMP"})
      world.set_env(variable, shared.path("tmp"));
    // A second in each minifier: the runs are all under way together.
    world.set_env("BRELIX_FAKE_UGLIFYJS", "slow");
    if (cached) {
      // One minifier for all, or its path alone would tell their keys apart.
      world.set_env("PATH", shared.path("bin") + ":/usr/bin:/bin");
      world.set_env("BRELIX_CACHE_DIR", shared.path("cache"));
    }
  }

  std::vector<RunResult> results(run_count);
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < run_count; ++i) {
      threads.emplace_back([&, i] { results[i] = worlds[i]->run("brelix", {packages[i]}); });
    }
  }

  for (std::size_t i = 0; i < run_count; ++i) {
    SCOPED_TRACE("run " + std::to_string(i));
    EXPECT_EQ(results[i].status, 0) << results[i].err;
    EXPECT_EQ(results[i].err, "");
    for (const auto& [output, bytes] : expected[i]) {
      EXPECT_EQ(worlds[i]->read_file(output), bytes) << output;
    }
    EXPECT_TRUE(is_empty_folder(*worlds[i], "tmp"));
  }
  EXPECT_TRUE(is_empty_folder(shared, "tmp")) << "a run left its folder behind";
  // Two bundles of each of four projects.
  if (cached) {
    EXPECT_EQ(whole_cache_entries(shared, "cache"), 8u);
  }
}

TEST(ConcurrentRuns, SixteenRunsInOneTemporaryFolderEachBuildTheirOwnProject) {
  run_sixteen(false);
}

TEST(ConcurrentRuns, SixteenRunsShareOneCache) {
  run_sixteen(true);
}

}  // namespace
}  // namespace brelix::testing

namespace brelix::testing {
namespace {

// Another process that cuts cssmin's input short while it minifies must
// not kill it: what it read is minified, or it fails as on any input.
TEST(ConcurrentRuns, CssminSurvivesItsInputCutShort) {
  World world;
  std::string sheet;
  for (int i = 0; sheet.size() < 40'000'000; ++i) sheet += ".r" + std::to_string(i) + "{a:b}\n";
  world.write_file("big.css", sheet);
  const RunResult result = world.run_path(
      "/bin/sh", {"-c", "\"$0\" \"$1\" >/dev/null & sleep 0.05; : >\"$1\"; wait $!; echo $?",
                  program_path("cssmin"), world.path("big.css")});
  // 0: read whole before the cut; 1: a rule cut in the middle.
  EXPECT_TRUE(result.out == "0\n" || result.out == "1\n") << result.out << result.err;
}

}  // namespace
}  // namespace brelix::testing
