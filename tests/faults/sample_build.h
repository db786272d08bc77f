#pragma once
// What the fault tests share: a world with the sample project in it, the
// stand-in minifier on PATH as uglifyjs, Veltrano's six destinations
// holding old content, and a record of every other file in the world, to
// show that a run changed nothing but its destinations and its own
// temporary folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "src/catalogue.h"
#include "tests/support/world.h"

namespace brelix::testing {

// The seed for a test's random choices: BRELIX_FAULT_SEED's value, to
// repeat a failed run, or a fresh one.
inline std::uint64_t fault_seed() {
  const char* given = std::getenv("BRELIX_FAULT_SEED");
  return given != nullptr ? std::strtoull(given, nullptr, 10) : std::random_device{}();
}

class SampleBuild {
 public:
  // Folders of the world that hold what the tests themselves keep.
  static constexpr std::string_view scratch = "scratch";

  SampleBuild() {
    const RunResult made = world_.run("make_sample_project", {world_.path("sample")});
    EXPECT_EQ(made.status, 0) << made.err;
    world_.make_dir("bin");
    world_.make_dir(scratch);
    std::filesystem::copy_file(program_path("fake_uglifyjs"), world_.path("bin/uglifyjs"));
    world_.set_env("PATH", world_.path("bin"));
    world_.set_env("VTPATH", world_.path("sample/veltrano"));
    for (const catalogue::BundleEntry* entry :
         {&catalogue::veltrano_boot, &catalogue::veltrano_system, &catalogue::veltrano_css}) {
      // The debug output is moved into place first.
      for (std::string_view out : {entry->out_debug, entry->out}) {
        destinations_.push_back("sample/veltrano/" +
                                std::string(out.substr(std::string_view("$VTPATH/").size())));
      }
    }
  }

  World& world() { return world_; }
  const World& world() const { return world_; }

  // Veltrano's destinations, relative to the world, in the order a run
  // moves them into place.
  const std::vector<std::string>& destinations() const { return destinations_; }

  std::string old_content(const std::string& destination) const {
    return "old content of " + destination + ", which no build writes\n";
  }

  void plant_old_content() const {
    for (const std::string& destination : destinations_)
      world_.write_file(destination, old_content(destination));
  }

  std::vector<std::string> read_destinations() const {
    std::vector<std::string> contents;
    for (const std::string& destination : destinations_)
      contents.push_back(world_.read_file(destination));
    return contents;
  }

  // Every file and link in the world but the destinations, under tmp/ and
  // under the scratch folder, by relative path; a link by its target.
  std::map<std::string, std::string> other_files() const {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> files;
    const std::string root = world_.root() + "/";
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
      const std::string relative = it->path().generic_string().substr(root.size());
      if (relative == "tmp" || relative == scratch) {
        it.disable_recursion_pending();
        continue;
      }
      if (it->is_symlink()) {
        files[relative] = "link to " + fs::read_symlink(it->path()).string();
      } else if (it->is_directory()) {
        files[relative + "/"] = "";
      } else if (std::find(destinations_.begin(), destinations_.end(), relative) ==
                 destinations_.end()) {
        files[relative] = world_.read_file(relative);
      }
    }
    return files;
  }

  // The world's own folder holds the world and the test's captures only.
  std::vector<std::string> beside_world() const {
    std::vector<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(world_.root()).parent_path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  World world_;
  std::vector<std::string> destinations_;
};

}  // namespace brelix::testing
