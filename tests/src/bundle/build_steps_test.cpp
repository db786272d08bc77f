// The operations both bundle builds share: the importer snippet's bytes,
// the line feed between sources, reading by written path and the move
// with its stand-in copy across devices.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "src/bundle/build_steps.h"
#include "src/bundle/importer_snippet.h"
#include "tests/support/world.h"

namespace brelix {
namespace {

namespace fs = std::filesystem;
using testing::World;

// The snippet as its line table gives it: leading tabs and text per line,
// lines joined by single line feeds.
std::string snippet_from_table(std::string_view required_script) {
  const std::pair<int, std::string_view> lines[] = {
      {0, ""},
      {3, "Ext.define('Veltrano.boot.Importer', {"},
      {4, ""},
      {4, "singleton: true,"},
      {0, ""},
      {4, "mixins: ["},
      {5, "'Ext.mixin.Mashup'"},
      {4, "],"},
      {0, ""},
      {4, "requiredScripts: ["},
      {5, required_script},
      {4, "]"},
      {3, "});"},
      {3, ""},
  };
  std::string out;
  for (std::size_t i = 0; i < std::size(lines); ++i) {
    if (i > 0) out.push_back('\n');
    out.append(static_cast<std::size_t>(lines[i].first), '\t');
    out.append(lines[i].second);
  }
  return out;
}

TEST(ImporterSnippet, BytesFollowTheLineTable) {
  EXPECT_EQ(importer_snippet_debug, snippet_from_table("'/veltrano/system-debug.js'"));
  EXPECT_EQ(importer_snippet_release, snippet_from_table("'/veltrano/system.js'"));
  for (const std::string_view snippet : {importer_snippet_debug, importer_snippet_release}) {
    EXPECT_TRUE(snippet.starts_with("\n\t\t\tExt.define("));
    EXPECT_TRUE(snippet.ends_with("});\n\t\t\t"));
    EXPECT_EQ(snippet.find('\r'), std::string_view::npos);
  }
}

TEST(LineFeedBetweenSources, OnlyAfterANonEmptySourceWithoutOne) {
  const std::pair<std::string_view, bool> cases[] = {
      {"", false},
      {"\n", false},
      {"a();\n", false},
      {"a();", true},
      {"//# sourceMappingURL=a.map", true},
      {"a();\r", true},
      {"a();\n\n", false},
      {std::string_view("\0", 1), true},
  };
  for (const auto& [bytes, expected] : cases) {
    EXPECT_EQ(needs_line_feed(bytes), expected) << '"' << bytes << '"';
  }
}

TEST(LineFeedBetweenSources, WriteSourceAddsExactlyOne) {
  World world;
  {
    Result<platform::File> file = platform::open_for_write(world.path("out"));
    ASSERT_TRUE(file);
    for (const std::string_view source : {"a();", "", "b();\n", "//# x.map", "\xff"}) {
      ASSERT_TRUE(write_source(platform::default_env(), *file, source));
    }
  }
  EXPECT_EQ(world.read_file("out"), "a();\nb();\n//# x.map\n\xff\n");
}

TEST(ReadSource, ExpansionFailureComesBackUnchanged) {
  const std::string_view written = "$BRELIX_TEST_SURELY_UNSET_0c41/a.js";
  const Result<std::string> read = read_source(platform::default_env(), written);
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error().message,
            "error looking key 'BRELIX_TEST_SURELY_UNSET_0c41' up: environment variable not found");
  EXPECT_EQ(read.error().causes, std::vector<std::string>{"environment variable not found"});
}

// A rename that reports another device for the first `cross_device_calls`
// calls and then, if `then_fail`, fails the next one with a failure of its
// own; every other call renames for real.
struct ScriptedRename : platform::EnvWrapper {
  ScriptedRename(int cross_device, bool fail_next)
      : EnvWrapper(platform::default_env()),
        cross_device_calls(cross_device),
        then_fail(fail_next) {}

  std::expected<void, platform::RenameFailure> rename_file(std::string_view from,
                                                           std::string_view to) override {
    calls.emplace_back(from, to);
    if (static_cast<int>(calls.size()) <= cross_device_calls) {
      return std::unexpected(
          platform::RenameFailure{Failure::of("other device (os error 18)"), true});
    }
    if (then_fail && static_cast<int>(calls.size()) == cross_device_calls + 1) {
      return std::unexpected(platform::RenameFailure{Failure::of("refused (os error 13)"), false});
    }
    return EnvWrapper::rename_file(from, to);
  }

  int cross_device_calls = 0;
  bool then_fail = false;
  std::vector<std::pair<std::string, std::string>> calls;
};

std::vector<std::string> entries(const World& world, std::string_view folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(world.path(folder)))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(MoveFile, RenamesOrCopiesAcrossDevicesAndNeverLeavesAHalfFile) {
  struct Case {
    const char* what;
    int cross_device_calls;
    bool then_fail;
    bool source_is_directory;
    const char* expected_error;  // nullptr: the move succeeds
  };
  const Case cases[] = {
      {"plain rename", 0, false, false, nullptr},
      {"other failure stays the rename's", 0, true, false, "refused (os error 13)"},
      {"across devices: copy, then rename over", 1, false, false, nullptr},
      {"copy's rename fails", 1, true, false, "refused (os error 13)"},
      {"copy cannot read", 1, false, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World world;
    world.write_file("dest/out.js", "old");
    world.write_file("dest/neighbour.js", "n");
    if (c.source_is_directory) {
      world.make_dir("run/out.js");
    } else {
      world.write_file("run/out.js", std::string(100000, 'x') + "new");
    }
    ScriptedRename rename(c.cross_device_calls, c.then_fail);
    const Result<> moved = move_file(rename, world.path("run/out.js"), world.path("dest/out.js"));
    if (c.expected_error == nullptr) {
      ASSERT_TRUE(moved) << moved.error().message;
      EXPECT_EQ(world.read_file("dest/out.js"), std::string(100000, 'x') + "new");
      EXPECT_FALSE(world.exists("run/out.js"));
    } else {
      ASSERT_FALSE(moved);
      if (*c.expected_error != '\0') {
        EXPECT_EQ(moved.error().message, c.expected_error);
      }
      EXPECT_TRUE(moved.error().message.ends_with(")")) << moved.error().message;
      EXPECT_EQ(world.read_file("dest/out.js"), "old");
    }
    // No temporary copy stays beside the destination, whatever happened.
    EXPECT_EQ(entries(world, "dest"), (std::vector<std::string>{"neighbour.js", "out.js"}));
    if (c.cross_device_calls > 0 && !c.source_is_directory) {
      ASSERT_EQ(rename.calls.size(), 2u);
      EXPECT_EQ(fs::path(rename.calls[1].first).parent_path(), fs::path(world.path("dest")));
      EXPECT_EQ(rename.calls[1].second, world.path("dest/out.js"));
    }
  }
}

}  // namespace
}  // namespace brelix
