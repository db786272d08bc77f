#pragma once
// What the tests of hostile conditions share: a world holding the sample
// project with the stand-in minifier as uglifyjs, the places of a package's
// outputs in it, and a snapshot of a whole folder tree, so that a test can
// show exactly which files a run changed and that nothing else moved.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "src/bundle/minify_cache.h"
#include "src/catalogue.h"
#include "tests/support/world.h"

namespace brelix::testing {

// Where a catalogue path lies in a world whose sample project is in folder:
// $VTPATH/x is folder/veltrano/x and $VTPATH/../y is folder/y.
inline std::string sample_relative(std::string_view written, std::string_view folder = "sample") {
  std::string relative(written.substr(std::string_view("$VTPATH/").size()));
  if (relative.starts_with("../")) return std::string(folder) + "/" + relative.substr(3);
  return std::string(folder) + "/veltrano/" + relative;
}

// The outputs of a package, release and debug of each bundle, in build order.
inline std::vector<std::string> package_outputs(bool veltrano, std::string_view folder = "sample") {
  std::vector<std::string> out;
  for (const catalogue::BundleEntry* entry : catalogue::all_bundles) {
    if (entry->name.starts_with("Veltrano") != veltrano) continue;
    out.push_back(sample_relative(entry->out, folder));
    out.push_back(sample_relative(entry->out_debug, folder));
  }
  return out;
}

// Lays out the sample project in folder, puts the stand-in minifier on PATH
// as uglifyjs (before the system's folders, which the scripts some tests
// put there need) and points VTPATH at the project.
inline void lay_out_sample(World& world, std::string_view folder = "sample") {
  const RunResult made = world.run("make_sample_project", {world.path(folder)});
  ASSERT_EQ(made.status, 0) << made.err;
  world.make_dir("bin");
  if (!world.exists("bin/uglifyjs")) {
    const std::filesystem::path as(world.path("bin/uglifyjs"));
    std::filesystem::copy_file(program_path("fake_uglifyjs"), as);
    std::filesystem::permissions(as, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add);
  }
  world.set_env("PATH", world.path("bin") + ":/usr/bin:/bin");
  world.set_env("VTPATH", world.path(std::string(folder) + "/veltrano"));
}

// How many entries the minifier cache in folder holds, each checked whole;
// temporary files are passed over, anything else is a failure.
inline std::size_t whole_cache_entries(const World& world, const std::string& folder) {
  std::size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(world.path(folder))) {
    const std::string file = entry.path().filename().string();
    if (file.starts_with(cache_temporary_prefix)) continue;
    EXPECT_TRUE(file.ends_with(cache_entry_suffix) &&
                cache_entry_text(world.read_file(folder + "/" + file), file.substr(0, 64)))
        << file;
    ++entries;
  }
  return entries;
}

// One entry of a tree as lstat sees it: its kind, its permission bits and,
// for a file its bytes, for a link its target.
struct TreeEntry {
  char kind = '?';  // 'f' file, 'd' folder, 'l' link, 'p' pipe, '?' other
  unsigned mode = 0;
  std::string bytes;
  bool operator==(const TreeEntry&) const = default;
};
using Tree = std::map<std::string, TreeEntry>;

// Every entry under root, by its path relative to root; links are not
// followed.
inline Tree snapshot(const std::string& root) {
  namespace fs = std::filesystem;
  Tree tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    struct stat info {};
    const std::string path = it->path().string();
    if (::lstat(path.c_str(), &info) != 0) {
      ADD_FAILURE() << "cannot look at " << path;
      continue;
    }
    TreeEntry entry;
    entry.mode = info.st_mode & 07777;
    if (S_ISREG(info.st_mode)) {
      entry.kind = 'f';
      std::ifstream stream(path, std::ios::binary);
      entry.bytes.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    } else if (S_ISDIR(info.st_mode)) {
      entry.kind = 'd';
    } else if (S_ISLNK(info.st_mode)) {
      entry.kind = 'l';
      entry.bytes = fs::read_symlink(it->path()).string();
    } else if (S_ISFIFO(info.st_mode)) {
      entry.kind = 'p';
    }
    tree[it->path().lexically_relative(root).generic_string()] = entry;
  }
  return tree;
}

// The paths that were added, removed or changed between two snapshots.
inline std::vector<std::string> changed_paths(const Tree& before, const Tree& after) {
  std::vector<std::string> out;
  for (const auto& [path, entry] : before) {
    const auto found = after.find(path);
    if (found == after.end() || !(found->second == entry)) out.push_back(path);
  }
  for (const auto& [path, entry] : after) {
    if (!before.contains(path)) out.push_back(path);
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace brelix::testing
