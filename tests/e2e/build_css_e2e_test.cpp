// The style-sheet bundle build from outside: build_js_runner with the "c"
// switch builds one style-sheet bundle in a world of its own, and ends as
// the program does. What the bundles hold is tested in process
// (tests/src/bundle/builds_test.cpp); here, the fault and failure reports
// and statuses.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/world.h"
#include "unicode/utf8.h"

namespace brelix::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view name = "Sheets - css";

struct Source {
  std::string path;
  std::string bytes;
};

class CssWorld : public World {
 public:
  void add(std::vector<Source>& list, const std::string& relative, const std::string& bytes) const {
    write_file(relative, bytes);
    list.push_back({relative, bytes});
  }

  RunResult build(const std::vector<Source>& files, const std::vector<Source>& extra,
                  bool append_extra = true) const {
    make_dir("dest");
    std::vector<std::string> args = {std::string(name), path("dest/out.css"),
                                     path("dest/out-debug.css"), append_extra ? "ce" : "c"};
    for (const Source& file : files) args.push_back(path(file.path));
    if (!extra.empty()) args.push_back("--");
    for (const Source& file : extra) args.push_back(path(file.path));
    return run("build_js_runner", args);
  }

  void plant_old_outputs() const {
    write_file("dest/out.css", "old release");
    write_file("dest/out-debug.css", "old debug");
  }
  void expect_old_outputs() const {
    EXPECT_EQ(read_file("dest/out.css"), "old release");
    EXPECT_EQ(read_file("dest/out-debug.css"), "old debug");
  }
  // The run's own folder, which a fault leaves behind.
  std::string run_folder() const {
    for (const auto& entry : fs::directory_iterator(path("tmp"))) {
      if (entry.path().filename().string().rfind("brelix-", 0) == 0)
        return entry.path().generic_string();
    }
    return {};
  }
};

std::string concatenation(const std::vector<Source>& files, const std::vector<Source>& extra = {}) {
  std::string out;
  for (const Source& file : files) out += file.bytes;
  for (const Source& file : extra) out += file.bytes;
  return out;
}

std::string joined_text(const std::vector<Source>& files) {
  std::string out;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (i > 0) out += '\n';
    out += unicode::decode_lossy(files[i].bytes);
  }
  return out;
}

struct RejectionCase {
  std::size_t bad_index;     // which of three sources holds the rejected construct
  std::size_t line_in_file;  // where it begins there
};

class BuildCssRejection : public ::testing::TestWithParam<RejectionCase> {};

TEST_P(BuildCssRejection, IsAFaultThatNamesTheFileAndLineAndTouchesNoDestination) {
  const RejectionCase c = GetParam();
  CssWorld world;
  world.plant_old_outputs();
  std::vector<Source> files;
  const std::string bad = "ok{x:y}\n\n  a{color:;}\nb{x:y}\n";  // rejected at line 3
  for (std::size_t i = 0; i < 3; ++i) {
    const std::string good =
        "/* sheet " + std::to_string(i) + " */\np" + std::to_string(i) + "{x:y}\n";
    world.add(files, "css/s" + std::to_string(i) + ".css", i == c.bad_index ? bad : good);
  }
  std::vector<Source> extra;
  world.add(extra, "css/lib.min.css", ".lib{color:red}");

  const RunResult result = world.build(files, extra);
  EXPECT_EQ(result.status, 101);
  world.expect_old_outputs();

  // The joined text's own line, counted independently.
  const std::string joined = joined_text(files);
  std::size_t joined_line = 1;
  const std::size_t offset = joined.find("a{color:;}");
  for (std::size_t i = 0; i < offset; ++i) joined_line += joined[i] == '\n' ? 1u : 0u;

  const std::size_t newline = result.err.find('\n');
  ASSERT_NE(newline, std::string::npos) << result.err;
  const std::string hint = result.err.substr(0, newline);
  EXPECT_NE(hint.find(world.path(files[c.bad_index].path)), std::string::npos) << hint;
  EXPECT_NE(hint.find("line " + std::to_string(c.line_in_file) + " "), std::string::npos) << hint;
  EXPECT_NE(hint.find("Invalid block at line " + std::to_string(joined_line)), std::string::npos)
      << hint;

  const std::string message = result.err.substr(newline + 1);
  const std::string expected_start =
      "called `Result::unwrap()` on an `Err` value: MError { message: \"Invalid block at line " +
      std::to_string(joined_line) + "\", error: \"";
  EXPECT_EQ(message.substr(0, expected_start.size()), expected_start) << message;
  EXPECT_EQ(message.substr(message.size() < 4 ? 0 : message.size() - 4), "\" }\n") << message;

  // What a fault leaves: the complete debug file, an empty release file.
  const std::string folder = world.run_folder();
  ASSERT_NE(folder, "");
  EXPECT_EQ(world.read_file(folder.substr(world.root().size() + 1) + "/out-debug.css"),
            concatenation(files));
  EXPECT_EQ(world.read_file(folder.substr(world.root().size() + 1) + "/out.css"), "");
}

// Which file and line each position gives is tested in process
// (tests/src/bundle/builds_test.cpp); here, what the program prints.
INSTANTIATE_TEST_SUITE_P(Middle, BuildCssRejection, ::testing::Values(RejectionCase{1, 3}));

TEST(BuildCss, AMissingSourceOrExtraIsAFailureWithTheSystemsTextAndItsPath) {
  for (const bool missing_extra : {false, true}) {
    CssWorld world;
    world.plant_old_outputs();
    std::vector<Source> files;
    std::vector<Source> extra;
    world.add(files, "css/a.css", "a{x:y}");
    (missing_extra ? extra : files).push_back({"css/missing.css", ""});

    const RunResult result = world.build(files, extra);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.rfind("Error: ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find(" (os error "), std::string::npos) << result.err;
    EXPECT_TRUE(result.err.ends_with(" (os error 2)\n\nCaused by:\n    reading source " +
                                     world.path("css/missing.css") + "\n"))
        << result.err;
    world.expect_old_outputs();
  }
}

// Windows editors save a byte order mark; in the middle of the joined
// sheets it would be part of a selector.
TEST(BuildCss, AByteOrderMarkIsDroppedFromTheStartOfEverySheet) {
  const std::string mark = "\xEF\xBB\xBF";
  CssWorld world;
  std::vector<Source> files;
  std::vector<Source> extra;
  world.add(files, "css/a.css", mark + "html,body{margin:0}");
  world.add(files, "css/b.css", mark + "p{color:#FFFFFF}");
  world.add(extra, "css/lib.min.css", mark + ".lib{x:y}");
  const RunResult result = world.build(files, extra);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(world.read_file("dest/out-debug.css"), "html,body{margin:0}p{color:#FFFFFF}.lib{x:y}");
  EXPECT_EQ(world.read_file("dest/out.css"), "body,html{margin:0}p{color:#fff}.lib{x:y}");

  world.write_file("sheet.css", mark + "b,a{x:y}");
  RunOptions piped;
  piped.input = mark + "b,a{x:y}";
  EXPECT_EQ(world.run("cssmin", {world.path("sheet.css")}).out, "a,b{x:y}");
  EXPECT_EQ(world.run("cssmin", {"-"}, piped).out, "a,b{x:y}");
}

// cssmin maps a named file and reads standard input into memory: both
// must print the same, whichever way the text is handled.
TEST(Cssmin, AFileAndStandardInputGiveTheSameBytes) {
  std::string large;  // many pages, so that releasing them shows
  while (large.size() < 200000) large += "a.b { color: #ffffff; margin: 0px 0.50em }\n";
  const std::pair<std::string, int> cases[] = {
      {large, 0},
      {"p::after { content: \"\xff\xfe\"; color: #aabbcc }", 0},  // not UTF-8
      {large + "\n}\n", 1},                                       // rejected
  };
  for (const auto& [sheet, status] : cases) {
    SCOPED_TRACE(sheet.substr(0, 40));
    World world;
    world.write_file("sheet.css", sheet);
    RunOptions piped;
    piped.input = sheet;
    const RunResult from_file = world.run("cssmin", {world.path("sheet.css")});
    const RunResult from_input = world.run("cssmin", {"-"}, piped);
    EXPECT_EQ(from_file.status, status) << from_file.err;
    EXPECT_EQ(from_input.status, status) << from_input.err;
    EXPECT_EQ(from_file.out, from_input.out);
    EXPECT_EQ(from_file.err, from_input.err);
    EXPECT_FALSE((status == 0 ? from_file.out : from_file.err).empty());
  }
}

}  // namespace
}  // namespace brelix::testing
