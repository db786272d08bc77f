// The minifier cache from outside: build_js_runner builds one bundle with
// BRELIX_CACHE_DIR set, and the stand-in minifier's log shows whether it
// ran.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "src/api/minify_cache.h"
#include "tests/support/world.h"

namespace brelix::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view name = "Cached - bundle";

std::string progress(bool from_cache) {
  const std::string n(name);
  return n + ": start\n" + n + ": Concatenating files\n" + n + ": Concatenating done\n" + n +
         ": Processing files\n" + (from_cache ? n + std::string(progress_from_cache) + "\n" : "") + n +
         ": done\n\n";
}

class CacheWorld : public World {
 public:
  CacheWorld() {
    make_dir("bin");
    if (on_windows()) {
      std::string fake = program_path("fake_uglifyjs");
      std::replace(fake.begin(), fake.end(), '/', '\\');
      write_file("bin/uglifyjs.cmd", "@\"" + fake + "\" %*\r\n");
    } else {
      fs::copy_file(program_path("fake_uglifyjs"), path("bin/uglifyjs"));
    }
    std::string bin = path("bin");
    if (on_windows()) std::replace(bin.begin(), bin.end(), '/', '\\');
    set_env("PATH", bin + (on_windows() ? ";C:\\windows\\system32" : ":/usr/bin:/bin"));
    set_env("BRELIX_FAKE_UGLIFYJS_LOG", path("log"));
    set_env("BRELIX_CACHE_DIR", path("cache"));
    write_file("src/a.js", "var a = 1;\n");
    write_file("src/b.js", "var b = 2;\n");
  }

  // Builds the bundle; true in ran when the minifier was started.
  RunResult build(bool& ran) const {
    fs::remove(path("log"));
    make_dir("dest");
    std::vector<std::string> args = {std::string(name), path("dest/out.js"), path("dest/out-debug.js"), switches};
    for (const std::string& file : files) args.push_back(path(file));
    const RunResult result = run("build_js_runner", args);
    ran = exists("log");
    return result;
  }

  // The bundle as an uncached run writes it: the stand-in's mark, then
  // what it was given.
  std::string expected_release() const {
    std::string text = "/*min*/";
    for (const std::string& file : files) text += read_file(file);
    return text;
  }

  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path("cache"))) names.push_back(entry.path().filename().string());
    return names;
  }

  std::string switches = "-";
  std::vector<std::string> files = {"src/a.js", "src/b.js"};
};

// A build that must start the minifier, and the next that must not.
void expect_miss_then_hit(CacheWorld& world, const std::string& what) {
  SCOPED_TRACE(what);
  bool ran = false;
  RunResult result = world.build(ran);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(ran);
  EXPECT_EQ(result.out, progress(false));
  const std::string release = world.read_file("dest/out.js");
  const std::string debug = world.read_file("dest/out-debug.js");
  if (world.switches == "-") {
    EXPECT_EQ(release, world.expected_release());
  }

  result = world.build(ran);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_FALSE(ran);
  EXPECT_EQ(result.out, progress(true));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(world.read_file("dest/out.js"), release);
  EXPECT_EQ(world.read_file("dest/out-debug.js"), debug);
}

TEST(MinifyCache, AHitGivesTheSameBundlesAndEveryChangeMisses) {
  CacheWorld world;
  world.unset_env("BRELIX_CACHE_DIR");
  bool ran = false;
  for (int i = 0; i < 2; ++i) {
    const RunResult result = world.build(ran);
    EXPECT_TRUE(ran) << "without the variable every run minifies";
    EXPECT_EQ(result.out, progress(false));
  }
  world.set_env("BRELIX_CACHE_DIR", world.path("cache"));
  expect_miss_then_hit(world, "first use");
  if (!on_windows()) {
    EXPECT_EQ(fs::status(world.path("cache")).permissions() & fs::perms::all, fs::perms::owner_all);
    for (const std::string& entry : world.entries()) {
      EXPECT_EQ(fs::status(world.path("cache/" + entry)).permissions() & fs::perms::all,
                fs::perms::owner_read | fs::perms::owner_write);
    }
  }

  const std::pair<const char*, std::function<void()>> changes[] = {
      {"one byte of a source", [&] { world.write_file("src/b.js", "var b = 3;\n"); }},
      {"another list", [&] { world.files.push_back("src/a.js"); }},
      {"the importer", [&] { world.switches = "i"; }},
      {"the minifier replaced",
       [&] {
         const std::string program = on_windows() ? "bin/uglifyjs.cmd" : "bin/uglifyjs";
         world.write_file(program, world.read_file(program) + (on_windows() ? "\r\n" : std::string(1, '\0')));
       }},
  };
  for (const auto& [what, change] : changes) {
    change();
    expect_miss_then_hit(world, what);
  }
}

TEST(MinifyCache, ABrokenEntryIsAMissAndIsReplaced) {
  const std::pair<const char*, std::function<std::string(const std::string&)>> damages[] = {
      {"truncated", [](const std::string& e) { return e.substr(0, e.size() - 1); }},
      {"a byte changed",
       [](const std::string& e) {
         std::string out = e;
         out.back() ^= 1;
         return out;
       }},
      {"another version", [](const std::string& e) { return "brelix-minify-cache 9" + e.substr(e.find('\n')); }},
      {"a foreign file", [](const std::string&) { return std::string("var x = 1;\n"); }},
  };
  for (const auto& [what, damage] : damages) {
    CacheWorld world;
    expect_miss_then_hit(world, "before");
    const std::vector<std::string> entries = world.entries();
    ASSERT_EQ(entries.size(), 1u);
    const std::string entry = "cache/" + entries.front();
    world.write_file(entry, damage(world.read_file(entry)));
    expect_miss_then_hit(world, what);
  }
}

TEST(MinifyCache, LeastRecentlyUsedEntriesGoBeyondTheBound) {
  CacheWorld world;
  world.set_env("BRELIX_CACHE_MAX_MB", "1");
  const std::string bulk(400'000, ' ');
  auto use = [&](char which) {
    world.write_file("src/b.js", std::string(1, which) + bulk + "\n");
    bool ran = false;
    EXPECT_EQ(world.build(ran).status, 0);
    return ran;
  };
  EXPECT_TRUE(use('A'));
  EXPECT_TRUE(use('B'));
  EXPECT_FALSE(use('A'));  // now B is the least recently used
  EXPECT_TRUE(use('C'));   // 1.2 MB: B goes
  EXPECT_FALSE(use('A'));
  EXPECT_FALSE(use('C'));
  EXPECT_TRUE(use('B'));
}

TEST(MinifyCache, AnUnusableFolderOrBoundWarnsAndTheBuildGoesOn) {
  const std::string folder_warning = std::string(cache_warning_start);
  struct Case {
    const char* what;
    std::string folder;  // in the world
    std::string bound;
    std::string warning_start;
    bool cached;
  };
  const Case cases[] = {
      {"a file in the folder's place", "taken", "", folder_warning, false},
      {"a file in a parent's place", "taken/cache", "", folder_warning, false},
      {"a bound that is no number", "cache", "lots", std::string(cache_size_warning), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CacheWorld world;
    world.write_file("taken", "a file");
    world.set_env("BRELIX_CACHE_DIR", world.path(c.folder));
    if (!c.bound.empty()) world.set_env("BRELIX_CACHE_MAX_MB", c.bound);
    bool ran = false;
    for (const bool second : {false, true}) {
      const RunResult result = world.build(ran);
      ASSERT_EQ(result.status, 0) << result.err;
      EXPECT_EQ(ran, !(second && c.cached));
      EXPECT_EQ(result.out, progress(second && c.cached));
      EXPECT_EQ(lines_of(result.err).size(), 1u) << result.err;
      EXPECT_TRUE(result.err.starts_with(c.warning_start)) << result.err;
      EXPECT_EQ(world.read_file("dest/out.js"), world.expected_release());
    }
    EXPECT_EQ(world.read_file("taken"), "a file");
  }
}

}  // namespace
}  // namespace brelix::testing
