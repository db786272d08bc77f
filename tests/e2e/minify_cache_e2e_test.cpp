// The minifier cache from outside: build_js_runner builds one bundle with
// BRELIX_CACHE_DIR set, and the stand-in minifier's log shows whether it
// ran.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "src/bundle/minify_cache.h"
#include "tests/support/world.h"

namespace brelix::testing {
namespace {

namespace fs = std::filesystem;

std::string progress(bool from_cache) {
  std::string out;
  for (const char* step :
       {": start", ": Concatenating files", ": Concatenating done", ": Processing files"}) {
    out += std::string("B") + step + "\n";
  }
  return out + (from_cache ? "B" + std::string(progress_from_cache) + "\n" : "") + "B: done\n\n";
}

class CacheWorld : public World {
 public:
  CacheWorld() {
    std::string fake = program_path("fake_uglifyjs"), bin = path("bin");
    if (on_windows()) {
      std::replace(fake.begin(), fake.end(), '/', '\\');
      std::replace(bin.begin(), bin.end(), '/', '\\');
    }
    make_dir("bin");
    if (on_windows()) {
      write_file(program, "@\"" + fake + "\" %*\r\n");
    } else {
      fs::copy_file(fake, path(program));
    }
    set_env("PATH", bin + (on_windows() ? ";C:\\windows\\system32" : ":/usr/bin:/bin"));
    set_env("BRELIX_FAKE_UGLIFYJS_LOG", path("log"));
    set_env("BRELIX_CACHE_DIR", path("cache"));
    write_file("src/a.js", "var a = 1;\n");
    make_dir("dest");
  }

  // Builds the bundle; ran tells whether the minifier was started.
  RunResult build(bool& ran) const {
    fs::remove(path("log"));
    std::vector<std::string> args = {"B", path("dest/out.js"), path("dest/out-debug.js"), switches};
    for (const std::string& file : files) args.push_back(path(file));
    const RunResult result = run("build_js_runner", args);
    ran = exists("log");
    return result;
  }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path("cache")))
      names.push_back(entry.path().filename().string());
    return names;
  }

  const std::string program = on_windows() ? "bin/uglifyjs.cmd" : "bin/uglifyjs";
  std::string switches = "-";
  std::vector<std::string> files = {"src/a.js"};
};

// A build that must start the minifier, then one that must not and that
// writes the same bundles.
void expect_miss_then_hit(CacheWorld& world, const std::string& what) {
  SCOPED_TRACE(what);
  bool ran = false;
  RunResult result = world.build(ran);
  EXPECT_TRUE(ran && result.status == 0 && result.out == progress(false))
      << result.out << result.err;
  const std::string release = world.read_file("dest/out.js"),
                    debug = world.read_file("dest/out-debug.js");
  result = world.build(ran);
  EXPECT_TRUE(!ran && result.status == 0 && result.out == progress(true) && result.err.empty())
      << result.out << result.err;
  EXPECT_EQ(world.read_file("dest/out.js"), release);
  EXPECT_EQ(world.read_file("dest/out-debug.js"), debug);
}

TEST(MinifyCache, AHitGivesTheSameBundlesAndEveryChangeMisses) {
  CacheWorld world;
  world.unset_env("BRELIX_CACHE_DIR");
  bool ran = false;
  EXPECT_TRUE(world.build(ran).out == progress(false) && ran);
  EXPECT_TRUE(world.build(ran).out == progress(false) && ran)
      << "without the variable every run minifies";
  world.set_env("BRELIX_CACHE_DIR", world.path("cache"));
  expect_miss_then_hit(world, "first use");
  EXPECT_EQ(world.read_file("dest/out.js"), "/*min*/var a = 1;\n");
  if (!on_windows()) {
    EXPECT_EQ(fs::status(world.path("cache")).permissions(), fs::perms::owner_all);
    const std::string entry = "cache/" + world.entries().front();
    EXPECT_EQ(fs::status(world.path(entry)).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
  }
  const std::pair<const char*, std::function<void()>> changes[] = {
      {"one byte of a source", [&] { world.write_file("src/a.js", "var a = 2;\n"); }},
      {"another list", [&] { world.files.push_back("src/a.js"); }},
      {"the importer", [&] { world.switches = "i"; }},
      {"the minifier replaced",
       [&] { world.write_file(world.program, world.read_file(world.program) + "\n"); }},
      // The kinds of damage are the unit test's; here, that it is replaced.
      {"the entry truncated",
       [&] {
         for (const std::string& name : world.entries()) {
           const std::string text = world.read_file("cache/" + name);
           world.write_file("cache/" + name, text.substr(0, text.size() - 1));
         }
       }},
  };
  for (const auto& [what, change] : changes) {
    change();
    expect_miss_then_hit(world, what);
  }
}

TEST(MinifyCache, TheSourceMapIsKeptAsASecondEntry) {
  CacheWorld world;
  world.set_env("BRELIX_SOURCE_MAPS", "hidden");
  const std::string map =
      "{\"version\":3,\"file\":\"out.js\",\"sources\":[\"../src/a.js\"],\"names\":[],"
      "\"mappings\":\"AAAA\"}";
  expect_miss_then_hit(world, "hidden maps");
  EXPECT_EQ(world.read_file("dest/out.js.map"), map);
  EXPECT_EQ(world.entries().size(), 2u);
  // Without its map an entry is a miss, and both are stored again.
  for (const std::string& name : world.entries()) {
    if (name.find('-') != std::string::npos) fs::remove(world.path("cache/" + name));
  }
  expect_miss_then_hit(world, "map entry gone");
  EXPECT_EQ(world.read_file("dest/out.js.map"), map);
}

TEST(MinifyCache, LeastRecentlyUsedEntriesGoBeyondTheBound) {
  CacheWorld world;
  world.set_env("BRELIX_CACHE_MAX_MB", "1");
  auto minified = [&](char which) {
    world.write_file("src/a.js", std::string(400'000, which) + "\n");
    bool ran = false;
    EXPECT_EQ(world.build(ran).status, 0);
    return ran;
  };
  EXPECT_TRUE(minified('A'));
  EXPECT_TRUE(minified('B'));
  EXPECT_FALSE(minified('A'));  // now B is the least recently used
  EXPECT_TRUE(minified('C'));   // 1.2 MB: B goes
  EXPECT_FALSE(minified('A'));
  EXPECT_FALSE(minified('C'));
  EXPECT_TRUE(minified('B'));
}

// Whatever is found at an entry's name that is not the user's own whole
// entry is a miss for that entry alone: no hang, no unbounded read, no
// warning, nothing outside the folder touched; what a file can replace is.
TEST(MinifyCache, WhatIsNotAnEntryAtItsNameIsAMissForItAlone) {
  struct Case {
    const char* what;
    std::function<void(CacheWorld&, const std::string&)> plant;
    bool replaced;
  };
  const auto link_to = [](std::string target) {
    return [target](CacheWorld& w, const std::string& entry) {
      fs::remove(entry);
      fs::create_symlink(target.starts_with("/") ? target : w.path(target), entry);
    };
  };
  std::vector<Case> cases = {
      {"a folder",
       [](CacheWorld&, const std::string& entry) {
         fs::remove(entry);
         fs::create_directory(entry);
       },
       false},
      {"a file far beyond the bound",
       [](CacheWorld&, const std::string& entry) {
         fs::resize_file(entry, 64ULL << 30);  // sparse
       },
       true},
  };
  if (!on_windows()) {
    cases.push_back({"a FIFO",
                     [](CacheWorld& w, const std::string& entry) {
                       fs::remove(entry);
                       w.run_path("/usr/bin/mkfifo", {entry});
                     },
                     true});
    cases.push_back({"a link to an endless device", link_to("/dev/zero"), true});
    cases.push_back({"a link to a whole entry outside", link_to("outside.entry"), true});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CacheWorld world;
    bool ran = false;
    ASSERT_EQ(world.build(ran).status, 0);
    const std::string entry = world.path("cache/" + world.entries().front());
    fs::copy_file(entry, world.path("outside.entry"));
    const auto outside_time = fs::last_write_time(world.path("outside.entry"));
    c.plant(world, entry);
    for (int round = 0; round < 2; ++round) {
      const RunResult result = world.build(ran);
      EXPECT_TRUE(ran == (round == 0 || !c.replaced) && result.status == 0 && result.err.empty())
          << round << result.err;
    }
    EXPECT_EQ(fs::last_write_time(world.path("outside.entry")), outside_time);
  }
}

// Only the cache's own names of the user's own files are evicted.
TEST(MinifyCache, EvictionLeavesOtherFilesAlone) {
  CacheWorld world;
  world.set_env("BRELIX_CACHE_MAX_MB", "1");
  const std::string big(2'000'000, 'x');
  for (const char* name : {"diary.entry", ".tmp-notes", "0123.entry", ".tmp-abcdefghijkl.bak"}) {
    world.write_file(std::string("cache/") + name, big);
    fs::last_write_time(world.path(std::string("cache/") + name),
                        fs::file_time_type::clock::now() - std::chrono::hours(48));
  }
  bool ran = false;
  ASSERT_EQ(world.build(ran).status, 0);
  EXPECT_EQ(world.entries().size(), 5U);
}

// A folder someone else could have filled decides nothing: one warning,
// and the bundle is minified.
TEST(MinifyCache, AFolderThatIsNotTheUsersAloneIsNotUsed) {
  if (on_windows()) GTEST_SKIP() << "the access lists are the platform test's";
  CacheWorld world;
  bool ran = false;
  ASSERT_EQ(world.build(ran).status, 0);
  const std::string warning =
      std::string(cache_warning_start) + world.path("cache") + std::string(cache_warning_middle);
  fs::permissions(world.path("cache"), fs::perms::others_write, fs::perm_options::add);
  RunResult result = world.build(ran);
  EXPECT_TRUE(ran && result.status == 0) << result.err;
  EXPECT_EQ(result.err, warning + "users other than its owner can write to it\n");
  fs::permissions(world.path("cache"), fs::perms::others_write, fs::perm_options::remove);
  if (world.run_path("/usr/bin/id", {"-u"}).out != "0\n") {
    GTEST_SKIP() << "another user's folder and entry need root";
  }
  // An entry of another user in the user's own folder is a miss.
  const std::string entry = world.path("cache/" + world.entries().front());
  world.run_path("/usr/bin/chown", {"65534", entry});
  EXPECT_TRUE(world.build(ran).status == 0 && ran) << "another user's entry was used";
  // A folder another user made before the first run.
  world.make_dir("shared");
  fs::permissions(world.path("shared"), fs::perms::all | fs::perms::sticky_bit);
  world.set_env("BRELIX_CACHE_DIR", world.path("shared/cache"));
  result = world.run_path("/usr/bin/setpriv",
                          {"--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/mkdir",
                           "-m", "0755", world.path("shared/cache")});
  ASSERT_EQ(result.status, 0) << result.err;
  result = world.build(ran);
  EXPECT_TRUE(ran && result.status == 0) << result.err;
  EXPECT_EQ(result.err, std::string(cache_warning_start) + world.path("shared/cache") +
                            std::string(cache_warning_middle) + "it belongs to another user\n");
}

// A folder that cannot be used is the driver's test: it warns once a run.
TEST(MinifyCache, ABoundThatIsNoNumberWarnsAndTheDefaultHolds) {
  CacheWorld world;
  world.set_env("BRELIX_CACHE_MAX_MB", "lots");
  bool ran = false;
  EXPECT_EQ(world.build(ran).err, cache_size_warning);
  EXPECT_EQ(world.build(ran).err, cache_size_warning);
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace brelix::testing
