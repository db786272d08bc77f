// Hostile file systems around a run: links, files and pipes planted in the
// temporary folder at names a careless build would use, destinations that
// are links, folders or read-only, a destination folder or a temporary
// folder that refuses to be written, a temporary folder others can write,
// sources that are pipes, devices or larger than memory, and the copies runs
// killed in a move left beside a destination. Each gives the outcome the
// manual describes, and a snapshot of the whole world shows that the run changed
// its own outputs and nothing else: whatever a link pointed to is byte for
// byte what it was.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/faults/sample_world.h"

namespace brelix::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> all_outputs() {
  std::vector<std::string> out = package_outputs(false);
  for (const std::string& output : package_outputs(true)) out.push_back(output);
  return out;
}

std::vector<std::string> sorted(std::vector<std::string> paths) {
  std::sort(paths.begin(), paths.end());
  return paths;
}

// Both packages built from an untouched sample project, once per program.
const std::map<std::string, std::string>& clean_outputs() {
  static const std::map<std::string, std::string> outputs = [] {
    std::map<std::string, std::string> out;
    World world;
    lay_out_sample(world);
    for (const char* package : {"-o", "-v"}) {
      const RunResult run = world.run("brelix", {package});
      EXPECT_EQ(run.status, 0) << run.err;
    }
    for (const std::string& output : all_outputs()) out[output] = world.read_file(output);
    return out;
  }();
  return outputs;
}

std::string os_error(int error) {
  return "Error: " + std::string(std::strerror(error)) + " (os error " + std::to_string(error) +
         ")\n";
}

// The system's error in moving an output to destination.
std::string os_error_moving(int error, const std::string& destination) {
  return "Error: " + std::string(std::strerror(error)) + " (os error " + std::to_string(error) +
         ")\n\nCaused by:\n    moving into place " + destination + "\n";
}

// A folder on another file system than the world, for a temporary folder
// from which every move is a copy; removed again only if the run left it
// empty, as it must.
class OtherFileSystemFolder {
 public:
  OtherFileSystemFolder() {
    std::error_code error;
    if (!fs::is_directory("/dev/shm", error)) return;
    std::random_device device;
    path_ = "/dev/shm/brelix-faults-" + std::to_string(device()) + std::to_string(device());
    if (!fs::create_directory(path_, error)) path_.clear();
  }
  ~OtherFileSystemFolder() {
    std::error_code error;
    if (!path_.empty() && fs::is_empty(path_, error)) fs::remove(path_, error);
  }
  OtherFileSystemFolder(const OtherFileSystemFolder&) = delete;
  OtherFileSystemFolder& operator=(const OtherFileSystemFolder&) = delete;

  const std::string& path() const { return path_; }  // empty when there is none
  bool is_empty() const {
    std::error_code error;
    return fs::is_empty(path_, error);
  }

 private:
  std::string path_;
};

void use_temporary_folder(World& world, const std::string& folder) {
  for (const char* variable : {"TMPDIR", "TMP", "TEMP"}) world.set_env(variable, folder);
}

// Where the moves go: straight renames, or copies from another file system.
struct Placement {
  const char* what;
  bool other_file_system;
};
constexpr Placement placements[] = {{"same file system", false},
                                    {"temporary folder elsewhere", true}};

// Points the world's temporary folder at `elsewhere` when the placement
// wants another file system; false when there is none to point at.
bool place_temporary_folder(World& world, const Placement& placement,
                            const OtherFileSystemFolder& elsewhere) {
  if (!placement.other_file_system) return true;
  if (elsewhere.path().empty()) return false;
  use_temporary_folder(world, elsewhere.path());
  return true;
}

TEST(PlantedPaths, NothingPlantedInTheTemporaryFolderIsFollowedOrChanged) {
  const auto& expected = clean_outputs();
  World world;
  lay_out_sample(world);
  world.write_file("victim/release.js", "victim release");
  world.write_file("victim/styles.css", "victim styles");
  // At every name the run's files have, and at one with the prefix of the
  // run's own folder: a link to a file outside, a dangling link whose
  // target a careless build would create, a pipe that would block whoever
  // opened it, and a read-only file.
  fs::create_symlink(world.path("victim/release.js"), world.path("tmp/out.js"));
  fs::create_symlink(world.path("victim/created-debug.js"), world.path("tmp/out-debug.js"));
  ASSERT_EQ(::mkfifo(world.path("tmp/out.css").c_str(), 0600), 0);
  world.write_file("tmp/out-debug.css", "planted");
  fs::permissions(world.path("tmp/out-debug.css"), fs::perms::owner_read);
  fs::create_symlink(world.path("victim"), world.path("tmp/brelix-"));
  const Tree before = snapshot(world.root());

  RunOptions options;
  options.timeout_seconds = 60;
  for (const char* package : {"-o", "-v"}) {
    const RunResult run = world.run("brelix", {package}, options);
    EXPECT_FALSE(run.timed_out) << package;
    EXPECT_EQ(run.status, 0) << package << ": " << run.err;
  }
  for (const auto& [output, bytes] : expected) EXPECT_EQ(world.read_file(output), bytes) << output;
  EXPECT_EQ(changed_paths(before, snapshot(world.root())), sorted(all_outputs()));
}

TEST(PlantedPaths, ADestinationThatIsALinkIsReplacedAndWhatItNamedIsLeftAlone) {
  const auto& expected = clean_outputs();
  for (const Placement& placement : placements) {
    SCOPED_TRACE(placement.what);
    OtherFileSystemFolder elsewhere;
    World world;
    lay_out_sample(world);
    if (!place_temporary_folder(world, placement, elsewhere))
      GTEST_SKIP() << "no second file system at hand";
    // Links to files, to nothing and to a folder, all outside the project.
    world.make_dir("victim/folder");
    int n = 0;
    for (const std::string& output : all_outputs()) {
      const std::string target = world.path("victim/" + std::to_string(n));
      if (n % 3 == 0)
        world.write_file("victim/" + std::to_string(n), "victim " + std::to_string(n));
      fs::create_symlink(n % 3 == 2 ? world.path("victim/folder") : target, world.path(output));
      ++n;
    }
    const Tree before = snapshot(world.root());
    for (const char* package : {"-o", "-v"}) {
      const RunResult run = world.run("brelix", {package});
      EXPECT_EQ(run.status, 0) << package << ": " << run.err;
    }
    const Tree after = snapshot(world.root());
    for (const auto& [output, bytes] : expected) {
      EXPECT_EQ(after.at(output).kind, 'f') << output;
      EXPECT_EQ(after.at(output).bytes, bytes) << output;
    }
    EXPECT_EQ(changed_paths(before, after), sorted(all_outputs()));
    if (placement.other_file_system) {
      EXPECT_TRUE(elsewhere.is_empty());
    }
  }
}

TEST(PlantedPaths, ADestinationThatIsAFolderFailsItsBundleAndStaysAsItWas) {
  const auto& expected = clean_outputs();
  const std::string boot = "sample/veltrano/system-boot.js";
  const std::string boot_debug = "sample/veltrano/system-boot-debug.js";
  const std::string system = "sample/veltrano/system.js";
  const std::string system_debug = "sample/veltrano/system-debug.js";
  const std::string styles = "sample/veltrano/system-styles.css";
  const std::string styles_debug = "sample/veltrano/system-styles-debug.css";
  struct Case {
    const char* what;
    std::string folder;
    // What the run replaces: the bundles before, and the debug output of
    // the failing bundle when only its release output is a folder, since
    // the debug output is moved first.
    std::vector<std::string> replaced;
  };
  const Case cases[] = {
      {"debug output, with a file in it", system_debug, {boot, boot_debug}},
      {"release output", system, {boot, boot_debug, system_debug}},
      {"style sheet", styles, {boot, boot_debug, system, system_debug, styles_debug}},
  };
  for (const Placement& placement : placements) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(placement.what) + ", " + c.what);
      OtherFileSystemFolder elsewhere;
      World world;
      lay_out_sample(world);
      if (!place_temporary_folder(world, placement, elsewhere))
        GTEST_SKIP() << "no second file system at hand";
      world.make_dir(c.folder);
      if (c.folder == system_debug) world.write_file(c.folder + "/keep", "kept");
      const Tree before = snapshot(world.root());
      const RunResult run = world.run("brelix", {"-v"});
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err, os_error_moving(EISDIR, world.path(c.folder)));
      const Tree after = snapshot(world.root());
      EXPECT_EQ(changed_paths(before, after), sorted(c.replaced));
      for (const std::string& output : c.replaced)
        EXPECT_EQ(after.at(output).bytes, expected.at(output)) << output;
      if (placement.other_file_system) {
        EXPECT_TRUE(elsewhere.is_empty());
      } else {
        EXPECT_TRUE(fs::is_empty(world.path("tmp")));
      }
    }
  }
}

TEST(PlantedPaths, AReadOnlyDestinationIsReplacedWithTheUsualPermissions) {
  const auto& expected = clean_outputs();
  const mode_t mask = ::umask(0);
  ::umask(mask);
  for (const Placement& placement : placements) {
    SCOPED_TRACE(placement.what);
    OtherFileSystemFolder elsewhere;
    World world;
    lay_out_sample(world);
    if (!place_temporary_folder(world, placement, elsewhere))
      GTEST_SKIP() << "no second file system at hand";
    for (const std::string& output : all_outputs()) {
      world.write_file(output, "old");
      fs::permissions(world.path(output), fs::perms::owner_read | fs::perms::group_read);
    }
    const Tree before = snapshot(world.root());
    for (const char* package : {"-o", "-v"}) {
      const RunResult run = world.run("brelix", {package});
      EXPECT_EQ(run.status, 0) << package << ": " << run.err;
    }
    const Tree after = snapshot(world.root());
    for (const auto& [output, bytes] : expected) {
      EXPECT_EQ(after.at(output).bytes, bytes) << output;
      EXPECT_EQ(after.at(output).mode, 0666u & ~static_cast<unsigned>(mask)) << output;
    }
    EXPECT_EQ(changed_paths(before, after), sorted(all_outputs()));
  }
}

// Runs brelix where the owner's permission bits are enforced: as root,
// inside a user namespace of its own, where the world's files belong to
// nobody it has power over. nullopt when that cannot be had here.
class Unprivileged {
 public:
  explicit Unprivileged(World& world) : world_(world) {
    // The probe: writing must work in a writable folder and fail in a
    // read-only one.
    world.make_dir("probe/open");
    world.make_dir("probe/shut");
    fs::permissions(world.path("probe/shut"), fs::perms::owner_read | fs::perms::owner_exec);
    for (const char* folder : {"open", "shut"}) {
      run_program(program_path("fake_uglifyjs"),
                  {"--echo", world.path(std::string("probe/") + folder + "/file"), "written"});
    }
    usable_ = world.exists("probe/open/file") && !world.exists("probe/shut/file");
    fs::permissions(world.path("probe/shut"), fs::perms::owner_all);
    fs::remove_all(world.path("probe"));
  }

  bool usable() const { return usable_; }
  RunResult run(const std::vector<std::string>& args) const {
    return run_program(program_path("brelix"), args);
  }

 private:
  RunResult run_program(const std::string& program, const std::vector<std::string>& args) const {
    if (::geteuid() != 0) return world_.run_path(program, args);
    std::vector<std::string> wrapped = {"--user", program};
    wrapped.insert(wrapped.end(), args.begin(), args.end());
    return world_.run_path("/usr/bin/unshare", wrapped);
  }

  World& world_;
  bool usable_ = false;
};

TEST(PlantedPaths, AReadOnlyDestinationFolderFailsBeforeAnythingChanges) {
  struct Case {
    const char* package;
    std::string folder;
    std::string reported;  // as the expanded destination names it
  };
  const Case cases[] = {{"-o", "sample/ombril/app", "sample/veltrano/../ombril/app"},
                        {"-v", "sample/veltrano", "sample/veltrano"}};
  for (const Placement& placement : placements) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(placement.what) + ", " + c.folder);
      OtherFileSystemFolder elsewhere;
      World world;
      lay_out_sample(world);
      const Unprivileged unprivileged(world);
      if (!unprivileged.usable()) GTEST_SKIP() << "permissions cannot be enforced here";
      if (!place_temporary_folder(world, placement, elsewhere))
        GTEST_SKIP() << "no second file system at hand";
      fs::permissions(world.path(c.folder), fs::perms::owner_read | fs::perms::owner_exec);
      const Tree before = snapshot(world.root());
      const RunResult run = unprivileged.run({c.package});
      EXPECT_EQ(run.status, 1);
      // The folder is checked before the sources are read; its failure
      // names it.
      EXPECT_EQ(run.err, os_error(EACCES) + "\nCaused by:\n    the destination folder " +
                             world.path(c.reported) + "\n");
      EXPECT_EQ(changed_paths(before, snapshot(world.root())), std::vector<std::string>{});
      if (placement.other_file_system) {
        EXPECT_TRUE(elsewhere.is_empty());
      }
      fs::permissions(world.path(c.folder), fs::perms::owner_all);
    }
  }
}

TEST(PlantedPaths, ATemporaryFolderThatCannotTakeTheRunsFolder) {
  World world;
  lay_out_sample(world);
  const Unprivileged unprivileged(world);
  world.write_file("a-file", "not a folder");
  world.make_dir("shut");
  fs::permissions(world.path("shut"), fs::perms::owner_read | fs::perms::owner_exec);
  struct Case {
    const char* what;
    std::string folder;
    int status;
    std::string err;
    bool needs_enforcement;
  };
  const Case cases[] = {
      {"missing", world.path("nowhere"), 1, os_error(ENOENT), false},
      {"a file", world.path("a-file"), 1, os_error(ENOTDIR), false},
      {"read-only", world.path("shut"), 1, os_error(EACCES), true},
      // A folder the program cannot name as text is no folder it can use.
      {"not UTF-8", world.path("tmp") + "/\xff", 101,
       "could not determine the temporary directory\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needs_enforcement && !unprivileged.usable()) continue;
    use_temporary_folder(world, c.folder);
    const Tree before = snapshot(world.root());
    const RunResult run = unprivileged.run({"-v"});
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(run.err.ends_with(c.err)) << run.err;
    EXPECT_EQ(run.out, "Veltrano - boot: start\n");
    EXPECT_EQ(changed_paths(before, snapshot(world.root())), std::vector<std::string>{});
  }
  fs::permissions(world.path("shut"), fs::perms::owner_all);
}

TEST(PlantedPaths, ASourceThatIsNoRegularFileOrTooLargeFailsNamingIt) {
  World world;
  lay_out_sample(world);
  // Under the address sanitizer an allocation refused must come back as
  // refused, and its warning about it must not pass for brelix's output.
  const auto env = world.environment();
  const auto asan = env.find("ASAN_OPTIONS");
  world.set_env("ASAN_OPTIONS",
                (asan != env.end() && !asan->second.empty() ? asan->second + ":" : "") +
                    "allocator_may_return_null=1:log_path=" + world.path("sanitizer"));
  const catalogue::BundleEntry& boot = catalogue::veltrano_boot;
  const catalogue::BundleEntry& css = catalogue::veltrano_css;
  const auto fifo = [&](const std::string& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); };
  struct Case {
    const catalogue::BundleEntry& bundle;
    std::function<void(const std::string&)> plant;
    const char* says;
  };
  const Case cases[] = {
      {boot, fifo, "is not a regular file"},
      {boot, [](const std::string& at) { fs::create_symlink("/dev/zero", at); },
       "is not a regular file"},
      // Sparse: no room on the disk, but far more than memory.
      {boot,
       [](const std::string& at) {
         std::ofstream{at};
         fs::resize_file(at, (std::uintmax_t{1} << 44) - (std::uintmax_t{1} << 20));
       },
       "is too large to be read into memory"},
      // Last: the bundles before it are built, and no outputs are there
      // before the rows above.
      {css, fifo, "is not a regular file"},
  };
  RunOptions options;
  options.timeout_seconds = 60;
  for (const Case& c : cases) {
    const std::string source = sample_relative(c.bundle.files.front());
    SCOPED_TRACE(c.says + (" at " + source));
    const std::string original = world.read_file(source);
    fs::remove(world.path(source));
    c.plant(world.path(source));
    const RunResult run = world.run("brelix", {"-v"}, options);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Error: the source " + world.path(source) + " " + c.says + "\n");
    EXPECT_FALSE(world.exists(sample_relative(c.bundle.out)) ||
                 world.exists(sample_relative(c.bundle.out_debug)));
    EXPECT_TRUE(fs::is_empty(world.path("tmp")));
    fs::remove(world.path(source));
    world.write_file(source, original);
  }
}

TEST(PlantedPaths, ATemporaryFolderOthersCanRearrangeIsReplacedWithAWarning) {
  struct stat system {};
  if (::stat("/tmp", &system) != 0 ||
      ((system.st_mode & S_IWOTH) != 0 && (system.st_mode & S_ISVTX) == 0)) {
    GTEST_SKIP() << "/tmp itself is no safe replacement here";
  }
  World world;
  lay_out_sample(world);
  world.make_dir("shared");
  use_temporary_folder(world, world.path("shared"));
  const std::string warning =
      "brelix: warning: the temporary directory " + world.path("shared") +
      " can be changed by other users (writable by all, without the sticky bit); using "
      "/tmp instead\n";
  struct Case {
    fs::perms permissions;
    std::string err;
  };
  const Case cases[] = {{fs::perms::all, warning}, {fs::perms::all | fs::perms::sticky_bit, ""}};
  for (const Case& c : cases) {
    fs::permissions(world.path("shared"), c.permissions);
    const RunResult run = world.run("brelix", {"-v"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, c.err);
    EXPECT_TRUE(fs::is_empty(world.path("shared")));
  }
}

TEST(PlantedPaths, CopiesLeftByKilledMovesGoOnceStaleAndNothingElseDoes) {
  World world;
  lay_out_sample(world);
  const std::string copy = "sample/veltrano/.brelix-move-";
  world.write_file(copy + "stale", "left by a killed run");
  world.write_file(copy + "recent", "a move under way");
  fs::create_symlink(world.path(copy + "stale"), world.path(copy + "link"));
  const timespec two_hours_ago[2] = {{::time(nullptr) - 7200, 0}, {::time(nullptr) - 7200, 0}};
  for (const char* name : {"stale", "link"}) {
    ASSERT_EQ(
        ::utimensat(AT_FDCWD, world.path(copy + name).c_str(), two_hours_ago, AT_SYMLINK_NOFOLLOW),
        0);
  }
  const RunResult run = world.run("brelix", {"-v"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(world.exists(copy + "stale"));
  EXPECT_TRUE(world.exists(copy + "recent"));
  EXPECT_TRUE(fs::is_symlink(world.path(copy + "link")));
}

TEST(PlantedPaths, AStyleSheetsOwnLineBreaksPlaceItsRejection) {
  World world;
  lay_out_sample(world);
  const std::string sheet = sample_relative(catalogue::veltrano_css.files.front());
  for (const std::string line_break : {"\r", "\r\n", "\f"}) {
    SCOPED_TRACE(::testing::PrintToString(line_break));
    world.write_file(sheet, "a{x:y}" + line_break + line_break + "b{color:;}" + line_break);
    const RunResult run = world.run("brelix", {"-v"});
    EXPECT_EQ(run.status, 101);
    const std::string hint = lines_of(run.err).empty() ? "" : lines_of(run.err).front();
    EXPECT_NE(hint.find(std::string(catalogue::veltrano_css.files.front()) +
                        " cannot be minified: its line 3 starts"),
              std::string::npos)
        << hint;
  }
}

}  // namespace
}  // namespace brelix::testing
