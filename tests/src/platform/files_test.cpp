// Files and temporary directories of the platform layer, on real files in
// a world of the test's own.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "src/platform/platform.h"
#include "tests/support/world.h"

namespace brelix::platform {
namespace {

namespace fs = std::filesystem;
using testing::on_windows;
using testing::World;

// The system's text for "not found", as the program must report it; on
// Windows the text is the system's own (and Wine's differs from Windows'),
// so only the code is known.
std::string not_found_text() {
  if (on_windows()) return "";
  return std::string(std::strerror(ENOENT)) + " (os error 2)";
}

TEST(Files, AppendKeepsWhatIsThereAndWriteTruncates) {
  World world;
  world.write_file("a", "old");
  world.write_file("w", "old");
  {
    Result<File> append = open_for_append(world.path("a"));
    ASSERT_TRUE(append) << append.error().message;
    ASSERT_TRUE(append->write_all("new"));
    Result<File> write = open_for_write(world.path("w"));
    ASSERT_TRUE(write) << write.error().message;
    ASSERT_TRUE(write->write_all("new"));
  }
  EXPECT_EQ(world.read_file("a"), "oldnew");
  EXPECT_EQ(world.read_file("w"), "new");

  // Both create what is missing.
  ASSERT_TRUE(open_for_append(world.path("fresh-a")));
  ASSERT_TRUE(open_for_write(world.path("fresh-w")));
  EXPECT_EQ(world.read_file("fresh-a"), "");
  EXPECT_EQ(world.read_file("fresh-w"), "");
}

TEST(Files, AppendHandleWritesAtTheEndAfterAnotherHandleGrewTheFile) {
  // The build's second handle on the release file must land after what the
  // minifier wrote, and the first handle must not hinder anyone.
  World world;
  Result<File> first = open_for_write(world.path("r"));
  ASSERT_TRUE(first);
  ASSERT_TRUE(first->write_all("concatenation"));
  world.write_file("r", "minified");  // another process replaces the content
  Result<File> second = open_for_append(world.path("r"));
  ASSERT_TRUE(second);
  ASSERT_TRUE(second->write_all("+extra"));
  second->close();
  EXPECT_EQ(world.read_file("r"), "minified+extra");
  // Moving and deleting while the first handle is still open; Windows
  // may keep a deleted file's name until its last handle goes.
  ASSERT_TRUE(rename_file(world.path("r"), world.path("moved")));
  EXPECT_EQ(world.read_file("moved"), "minified+extra");
  ASSERT_TRUE(delete_file(world.path("moved")));
  first->close();
  EXPECT_FALSE(exists(world.path("moved")));
}

TEST(Files, ReadWholeGivesBytesUnchanged) {
  World world;
  const std::string bytes = std::string("a\r\n\xff\xfe\0z", 7) + std::string(200000, 'q');
  world.write_file("bin", bytes);
  Result<std::string> read = read_whole(world.path("bin"));
  ASSERT_TRUE(read) << read.error().message;
  EXPECT_EQ(*read, bytes);
  world.write_file("empty", "");
  EXPECT_EQ(read_whole(world.path("empty")).value_or("x"), "");
}

TEST(Files, FailuresAreTheSystemsTextAndCodeOnly) {
  World world;
  world.make_dir("dir");
  world.write_file("file", "x");
  struct Case {
    const char* what;
    Failure failure;
    std::string expected_suffix;
    std::string expected_whole;
  };
  const Case cases[] = {
      {"read missing", read_whole(world.path("missing")).error(), " (os error 2)",
       not_found_text()},
      {"delete missing", delete_file(world.path("missing")).error(), " (os error 2)",
       not_found_text()},
      {"append in missing dir", open_for_append(world.path("no/such")).error(), ")", ""},
      {"read a directory", read_whole(world.path("dir")).error(),
       on_windows() ? " (os error 5)" : " (os error 21)",
       on_windows() ? "" : std::string(std::strerror(EISDIR)) + " (os error 21)"},
      {"create existing", create_new_file(world.path("file")).error(),
       on_windows() ? " (os error 80)" : " (os error 17)", ""},
      {"rename missing", rename_file(world.path("missing"), world.path("x")).error().failure,
       " (os error 2)", not_found_text()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_TRUE(c.failure.causes.empty());
    EXPECT_TRUE(c.failure.message.ends_with(c.expected_suffix)) << c.failure.message;
    EXPECT_EQ(c.failure.message.find(world.root()), std::string::npos)
        << "no path in " << c.failure.message;
    EXPECT_EQ(c.failure.message.find('\n'), std::string::npos);
    if (!c.expected_whole.empty()) {
      EXPECT_EQ(c.failure.message, c.expected_whole);
    }
  }
}

TEST(Files, ExistsFollowsLinks) {
  World world;
  world.write_file("file", "x");
  world.make_dir("dir");
  EXPECT_TRUE(exists(world.path("file")));
  EXPECT_TRUE(exists(world.path("dir")));
  EXPECT_FALSE(exists(world.path("missing")));
  if (!on_windows()) {
    fs::create_symlink(world.path("missing"), world.path("dangling"));
    EXPECT_FALSE(exists(world.path("dangling")));
  }
}

TEST(Files, RenameReplacesAndOnlyACrossDeviceFailureSaysSo) {
  World world;
  world.write_file("from", "new");
  world.write_file("to", "old");
  ASSERT_TRUE(rename_file(world.path("from"), world.path("to")));
  EXPECT_EQ(world.read_file("to"), "new");
  EXPECT_FALSE(world.exists("from"));
  auto missing = rename_file(world.path("from"), world.path("to"));
  ASSERT_FALSE(missing);
  EXPECT_FALSE(missing.error().cross_device);
}

TEST(Files, RenameAcrossDevicesIsReportedAsSuch) {
  // /dev/shm is a memory file system of its own on Linux.
  std::error_code error;
  if (on_windows() || !fs::is_directory("/dev/shm", error))
    GTEST_SKIP() << "no second file system at hand";
  World world;
  world.write_file("to", "old");
  const std::string from =
      "/dev/shm/brelix-rename-test-" + std::to_string(std::hash<std::string>{}(world.root()));
  ASSERT_TRUE(open_for_write(from));
  auto renamed = rename_file(from, world.path("to"));
  fs::remove(from, error);
  if (renamed) GTEST_SKIP() << "/dev/shm is on the same device here";
  EXPECT_TRUE(renamed.error().cross_device) << renamed.error().failure.message;
  EXPECT_EQ(renamed.error().failure.message, std::string(std::strerror(EXDEV)) + " (os error 18)");
  EXPECT_EQ(world.read_file("to"), "old");
}

TEST(Paths, ParentAndJoin) {
  struct Case {
    const char* path;
    const char* parent;
  };
  const Case common[] = {{"a/b/c.js", "a/b"}, {"c.js", "."}, {"/c.js", "/"}};
  for (const Case& c : common) EXPECT_EQ(parent_directory(c.path), c.parent) << c.path;
  if (on_windows()) {
    const Case windows[] = {
        {"C:\\t\\out.js", "C:\\t"}, {"C:\\out.js", "C:\\"}, {"C:out.js", "C:"}, {"a\\b/c", "a\\b"}};
    for (const Case& c : windows) EXPECT_EQ(parent_directory(c.path), c.parent) << c.path;
    EXPECT_EQ(join_path("C:\\Temp\\", "out.js"), "C:\\Temp\\out.js");
    EXPECT_EQ(join_path("C:\\Temp", "out.js"), "C:\\Temp\\out.js");
  } else {
    EXPECT_EQ(join_path("/tmp/", "out.js"), "/tmp/out.js");
    EXPECT_EQ(join_path("/tmp", "out.js"), "/tmp/out.js");
    EXPECT_EQ(join_path("/", "out.js"), "/out.js");
  }
}

TEST(TemporaryDirectories, PrivateDirectoryIsNewOwnerOnlyAndUnique) {
  World world;
  Result<std::string> first = create_private_directory(world.path("tmp"), "run-");
  Result<std::string> second = create_private_directory(world.path("tmp"), "run-");
  ASSERT_TRUE(first) << first.error().message;
  ASSERT_TRUE(second) << second.error().message;
  EXPECT_NE(*first, *second);
  for (const std::string* made : {&*first, &*second}) {
    const fs::path path(*made);
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_EQ(fs::path(parent_directory(*made)), fs::path(world.path("tmp")));
    EXPECT_TRUE(path.filename().string().starts_with("run-"));
    EXPECT_GT(path.filename().string().size(), std::string("run-").size() + 8)
        << "enough random characters";
    if (!on_windows()) {
      EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_all);
    }
  }
  // The directory is usable for the build's files and can go again.
  ASSERT_TRUE(open_for_write(join_path(*first, "out.js")));
  EXPECT_FALSE(remove_directory(*first)) << "not empty yet";
  ASSERT_TRUE(delete_file(join_path(*first, "out.js")));
  ASSERT_TRUE(remove_directory(*first));
  ASSERT_TRUE(remove_directory(*second));
  EXPECT_FALSE(create_private_directory(world.path("missing"), "run-"));
}

TEST(TemporaryDirectories, UniqueFilesNeverReuseAName) {
  World world;
  auto first = create_unique_file(world.root(), ".move-");
  auto second = create_unique_file(world.root(), ".move-");
  ASSERT_TRUE(first && second);
  EXPECT_NE(first->second, second->second);
  ASSERT_TRUE(first->first.write_all("x"));
  first->first.close();
  EXPECT_EQ(read_whole(first->second).value_or(""), "x");
  EXPECT_TRUE(fs::path(first->second).filename().string().starts_with(".move-"));
}

TEST(TemporaryDirectories, TheProcessOneIsKnown) {
  const std::optional<std::string> temporary = temporary_directory();
  ASSERT_TRUE(temporary);
  EXPECT_TRUE(fs::is_directory(*temporary)) << *temporary;
}

}  // namespace
}  // namespace brelix::platform
