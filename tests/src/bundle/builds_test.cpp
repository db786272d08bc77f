// The two bundle builds run in process through a test's Env: what the
// bundles hold, and each way a write, sync, rename, progress line or the
// minifier can fail, one after the other, with what the run then leaves.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "src/bundle/build_css.h"
#include "src/bundle/build_js.h"
#include "src/bundle/importer_snippet.h"
#include "tests/src/bundle/test_env.h"

namespace brelix::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

constexpr std::string_view name = "Test - bundle";

std::string progress(bool append_extra) {
  const std::string n(name);
  std::string out = n + ": start\n" + n + ": Concatenating files\n" + n + ": Concatenating done\n" +
                    n + ": Processing files\n";
  if (append_extra) out += n + ": Appeding extra\n" + n + ": Appeding done\n";
  return out + n + ": done\n\n";
}

std::size_t entries_in(const World& world, std::string_view folder) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(world.path(folder))) ++n;
  return n;
}

enum class Kind { js, css };

// One bundle with two sources and an extra, built in a world whose
// destinations hold old content.
class BundleWorld : public World {
 public:
  explicit BundleWorld(Kind kind) : kind_(kind) {
    const bool js = kind == Kind::js;
    write_file("src/a", js ? "a()" : "a{color:#ff0000}");
    write_file("src/b", js ? "b();\n" : "b { margin: 0px }\n");
    write_file("src/x", js ? "var x=1;" : ".x{}");
    write_file("dest/out", "old release");
    write_file("dest/out-debug", "old debug");
    make_dir("tmp");
    files_ = {path("src/a"), path("src/b")};
    extra_ = {path("src/x")};
    bundle.name = name;
    bundle.out = path("dest/out");
    bundle.out_debug = path("dest/out-debug");
    bundle.files = {files_[0], files_[1]};
    bundle.extra = {extra_[0]};
    bundle.append_extra = true;
    bundle.importer = js;
  }

  // Builds through env; the run's folder goes as the process entry removes
  // it, unless the outcome is a fault.
  Result<> build(TestEnv& env) const {
    RunDirectory directory(env);
    const BuildContext context{env, directory};
    Result<> built = kind_ == Kind::js ? build_js(bundle, context) : build_css(bundle, context);
    if (!built && built.error().is_fault) directory.keep();
    return built;
  }

  bool untouched() const {
    return read_file("dest/out") == "old release" && read_file("dest/out-debug") == "old debug";
  }

  Bundle bundle;

 private:
  Kind kind_;
  std::vector<std::string> files_;
  std::vector<std::string> extra_;
};

TEST(Builds, JavaScriptBundlesAreTheSourcesSnippetAndExtrasInOrder) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;  // path, bytes
    std::vector<std::pair<std::string, std::string>> extra;
    std::string switches;
    std::string debug;         // expected debug bundle
    std::string before_extra;  // what the minifier gets
    std::string extra_part;    // appended to both after it
  };
  const std::string debug_snippet(importer_snippet_debug);
  const std::string release_snippet(importer_snippet_release);
  const Case cases[] = {
      {"nothing at all", {}, {}, "-", "", "", ""},
      {"importer alone", {}, {}, "i", debug_snippet, release_snippet, ""},
      {"sources end with and without a line feed",
       {{"a.js", "a();"}, {"b.js", "b();\n"}, {"c.js", "c();"}},
       {},
       "-",
       "a();\nb();\nc();\n",
       "a();\nb();\nc();\n",
       ""},
      {"empty source adds nothing",
       {{"a.js", "a();\n"}, {"e.js", ""}, {"b.js", "b();\n"}},
       {},
       "-",
       "a();\nb();\n",
       "a();\nb();\n",
       ""},
      {"bytes are copied, never decoded",
       {{"bin.js", "x='\xff\xfe\0\r\n';"s}},
       {},
       "-",
       "x='\xff\xfe\0\r\n';\n"s,
       "x='\xff\xfe\0\r\n';\n"s,
       ""},
      {"sourceMappingURL comment cannot swallow the importer's first line",
       {{"lib.min.js", "var l=1;\n//# sourceMappingURL=lib.min.js.map"}},
       {},
       "i",
       "var l=1;\n//# sourceMappingURL=lib.min.js.map\n" + debug_snippet,
       "var l=1;\n//# sourceMappingURL=lib.min.js.map\n" + release_snippet,
       ""},
      {"extras after the minifier's output, on both",
       {{"a.js", "a();\n"}},
       {{"x.min.js", "var x=1;//# sourceMappingURL=x.map"}, {"y.min.js", "var y=2;\n"}},
       "e",
       "a();\nvar x=1;//# sourceMappingURL=x.map\nvar y=2;\n",
       "a();\n",
       "var x=1;//# sourceMappingURL=x.map\nvar y=2;\n"},
      {"extras switched on but none given",
       {{"a.js", "a();\n"}},
       {},
       "ie",
       "a();\n" + debug_snippet,
       "a();\n" + release_snippet,
       ""},
      {"extras given but switched off",
       {{"a.js", "a();\n"}},
       {{"x.js", "x();\n"}},
       "-",
       "a();\n",
       "a();\n",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World world;
    world.make_dir("tmp");
    std::vector<std::string> paths;
    for (const auto& [file, bytes] : c.files) world.write_file("src/" + file, bytes);
    for (const auto& [file, bytes] : c.extra) world.write_file("src/" + file, bytes);
    for (const auto& [file, bytes] : c.files) paths.push_back(world.path("src/" + file));
    for (const auto& [file, bytes] : c.extra) paths.push_back(world.path("src/" + file));
    Bundle bundle;
    bundle.name = name;
    bundle.out = world.path("out.js");
    bundle.out_debug = world.path("out-debug.js");
    for (std::size_t i = 0; i < paths.size(); ++i)
      (i < c.files.size() ? bundle.files : bundle.extra).push_back(paths[i]);
    bundle.importer = c.switches.find('i') != std::string::npos;
    bundle.append_extra = c.switches.find('e') != std::string::npos;
    TestEnv env(world);
    RunDirectory directory(env);
    const Result<> built = build_js(bundle, BuildContext{env, directory});
    ASSERT_TRUE(built) << built.error().message;
    EXPECT_EQ(env.out, progress(bundle.append_extra));
    EXPECT_EQ(world.read_file("out-debug.js"), c.debug);
    EXPECT_EQ(world.read_file("out.js"),
              std::string(minified_marker) + c.before_extra + c.extra_part);
    // The minifier ran even on an empty release file.
    EXPECT_EQ(env.minifier_runs, 1);
  }
}

struct SheetCase {
  const char* what;
  std::vector<std::string> files;
  std::vector<std::string> extra;
  bool append_extra;
  std::string debug;
  std::string release;
};

// Builds one style-sheet bundle of the given sources and extras in the
// world, through env; paths gets the sources' paths in order.
Result<> build_sheets(const World& world, const std::vector<std::string>& files,
                      const std::vector<std::string>& extra, bool append_extra, TestEnv& env,
                      std::vector<std::string>& paths) {
  for (std::size_t i = 0; i < files.size() + extra.size(); ++i) {
    const std::string relative = "css/s" + std::to_string(i) + ".css";
    world.write_file(relative, i < files.size() ? files[i] : extra[i - files.size()]);
    paths.push_back(world.path(relative));
  }
  Bundle bundle;
  bundle.name = name;
  bundle.out = world.path("out.css");
  bundle.out_debug = world.path("out-debug.css");
  for (std::size_t i = 0; i < paths.size(); ++i)
    (i < files.size() ? bundle.files : bundle.extra).push_back(paths[i]);
  bundle.append_extra = append_extra;
  RunDirectory directory(env);
  Result<> built = build_css(bundle, BuildContext{env, directory});
  if (!built && built.error().is_fault) directory.keep();
  return built;
}

// The debug style sheet is the sources as they are; the release one is
// what the minifier makes of them joined by line feeds (invalid UTF-8 read
// as U+FFFD), then the extras on both.
TEST(Builds, StyleSheetsAreTheRawConcatenationAndTheMinifiedJoinThenTheExtras) {
  const SheetCase cases[] = {
      {"sources and extras",
       {"a { color : #FFFFFF ; margin : 0px 0px }",
        "b::selection{ color: rgb(255, 0, 0) }\n.x{content:'\xff\xfe'}\n",
        "@media screen {\n  .c { font-weight: bold }\n}\n"},
       {".lib{color:red}", ".more{x:y}\n"},
       true,
       "a { color : #FFFFFF ; margin : 0px 0px }b::selection{ color: rgb(255, 0, 0) "
       "}\n.x{content:'\xff\xfe'}\n"
       "@media screen {\n  .c { font-weight: bold }\n}\n.lib{color:red}.more{x:y}\n",
       "a{color:#fff;margin:0 0}b::selection{color:#f00}.x{content:'\xEF\xBF\xBD\xEF\xBF\xBD'}"
       "@media screen{.c{font-weight:700}}.lib{color:red}.more{x:y}\n"},
      {"no sources, an extra", {}, {".lib{color:red}"}, true, ".lib{color:red}", ".lib{color:red}"},
      {"extras switched off", {"a{x:y}"}, {".lib{color:red}"}, false, "a{x:y}", "a{x:y}"},
  };
  for (const SheetCase& c : cases) {
    SCOPED_TRACE(c.what);
    World world;
    world.make_dir("tmp");
    TestEnv env(world);
    std::vector<std::string> paths;
    const Result<> built = build_sheets(world, c.files, c.extra, c.append_extra, env, paths);
    ASSERT_TRUE(built) << built.error().message;
    EXPECT_EQ(env.out, progress(c.append_extra));
    EXPECT_EQ(world.read_file("out-debug.css"), c.debug);
    EXPECT_EQ(world.read_file("out.css"), c.release);
    EXPECT_EQ(entries_in(world, "tmp"), 0u);
  }
}

// A construct the minifier rejects is a fault whose hint names the file
// and its line, and whose message carries the joined text; the run's
// folder stays with the complete debug file and an empty release file.
TEST(Builds, AStyleSheetTheMinifierRejectsIsAFaultNamingItsFileAndLine) {
  const std::string bad = "ok{x:y}\n\n  a{color:;}\nb{x:y}\n";  // rejected at its line 3
  const std::string good = "/* sheet */\np{x:y}\n";
  const std::string escaped_bad = "ok{x:y}\\n\\n  a{color:;}\\nb{x:y}\\n";
  const std::string escaped_good = "/* sheet */\\np{x:y}\\n";
  struct Case {
    std::size_t bad_index;
    int joined_line;
    std::string joined;  // as the message quotes it
  };
  const Case cases[] = {
      {0, 3, escaped_bad + "\\n" + escaped_good + "\\n" + escaped_good},
      {1, 6, escaped_good + "\\n" + escaped_bad + "\\n" + escaped_good},
      {2, 9, escaped_good + "\\n" + escaped_good + "\\n" + escaped_bad},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bad_index);
    World world;
    world.make_dir("tmp");
    world.write_file("out.css", "old release");
    TestEnv env(world);
    std::vector<std::string> files(3, good);
    files[c.bad_index] = bad;
    std::vector<std::string> paths;
    const Result<> built = build_sheets(world, files, {".lib{color:red}"}, true, env, paths);
    ASSERT_FALSE(built);
    EXPECT_TRUE(built.error().is_fault);
    const std::string line = std::to_string(c.joined_line);
    EXPECT_EQ(built.error().hint,
              "brelix: the style sheet " + paths[c.bad_index] +
                  " cannot be minified: its line 3 starts a construct the minifier rejects "
                  "(Invalid block at line " +
                  line + " of the joined style sheets)");
    EXPECT_EQ(
        built.error().message,
        "called `Result::unwrap()` on an `Err` value: MError { message: \"Invalid block at line " +
            line + "\", error: \"" + c.joined + "\" }");
    EXPECT_EQ(world.read_file("out.css"), "old release");
    ASSERT_EQ(entries_in(world, "tmp"), 1u);
    const std::string folder =
        fs::directory_iterator(world.path("tmp"))->path().filename().string();
    EXPECT_EQ(world.read_file("tmp/" + folder + "/out-debug.css"), files[0] + files[1] + files[2]);
    EXPECT_EQ(world.read_file("tmp/" + folder + "/out.css"), "");
  }
}

// Each write, then each sync, of a whole build refused in turn, with plain
// moves and with moves that copy: the failure is the system's, its text
// unchanged, with what was being done and the path as its cause;
// the destinations keep their old content unless both moves were made; the
// run's folder and every copy are gone.
TEST(Builds, EachWriteOrSyncRefusedInTurn) {
  for (const Kind kind : {Kind::js, Kind::css}) {
    for (const bool copies : {false, true}) {
      SCOPED_TRACE(std::string(kind == Kind::js ? "js" : "css") + (copies ? ", moves copy" : ""));
      const BundleWorld clean(kind);
      TestEnv counting(clean);
      counting.cross_device = copies;
      ASSERT_TRUE(clean.build(counting));
      const std::string release = clean.read_file("dest/out");
      const std::string debug = clean.read_file("dest/out-debug");
      ASSERT_GT(counting.writes, 4);
      for (int n = 1; n <= counting.writes + counting.syncs; ++n) {
        const bool sync = n > counting.writes;
        const int at = sync ? n - counting.writes : n;
        SCOPED_TRACE((sync ? "sync " : "write ") + std::to_string(at));
        const BundleWorld world(kind);
        TestEnv env(world);
        env.cross_device = copies;
        (sync ? env.refuse_sync_at : env.refuse_write_at) = at;
        const Result<> built = world.build(env);
        ASSERT_FALSE(built);
        EXPECT_FALSE(built.error().is_fault);
        if (sync) {
          EXPECT_TRUE(built.error().message.starts_with("could not finish writing "))
              << built.error().message;
          EXPECT_EQ(built.error().causes, std::vector<std::string>{std::string(refused_text)});
        } else {
          EXPECT_EQ(built.error().message, refused_text);
          // What was being done, and where: a working file in the run's
          // folder, or a copy beside a destination.
          ASSERT_EQ(built.error().causes.size(), 1u);
          const std::string& cause = built.error().causes[0];
          EXPECT_TRUE(cause.starts_with("writing " + world.path("tmp")) ||
                      cause == "moving into place " + world.path("dest/out") ||
                      cause == "moving into place " + world.path("dest/out-debug"))
              << cause;
        }
        // Only a copy of the release output can fail once the debug output
        // is in place.
        if (!world.untouched()) {
          EXPECT_EQ(world.read_file("dest/out-debug"), debug);
          EXPECT_EQ(world.read_file("dest/out"), "old release");
        }
        EXPECT_EQ(entries_in(world, "tmp"), 0u);
        EXPECT_EQ(entries_in(world, "dest"), 2u);
        EXPECT_EQ(env.out.find(": done"), std::string::npos);
      }
      EXPECT_NE(release, "old release");
    }
  }
}

// A progress line that cannot be written is a fault, whichever line it is:
// nothing is moved before the last two lines, and the run's folder stays.
TEST(Builds, EachProgressLineRefusedInTurnIsAFault) {
  for (const Kind kind : {Kind::js, Kind::css}) {
    const int lines = 8;  // with the extras and the empty line after ": done"
    for (int n = 1; n <= lines; ++n) {
      SCOPED_TRACE((kind == Kind::js ? "js, line " : "css, line ") + std::to_string(n));
      const BundleWorld world(kind);
      TestEnv env(world);
      env.refuse_progress_at = n;
      const Result<> built = world.build(env);
      ASSERT_FALSE(built);
      EXPECT_TRUE(built.error().is_fault);
      EXPECT_EQ(built.error().message, "could not write a progress line to standard output");
      EXPECT_EQ(world.untouched(), n < lines - 1);
      EXPECT_EQ(entries_in(world, "tmp"), n == 1 ? 0u : 1u);
    }
  }
}

TEST(Builds, AMinifierThatDidNotFinishIsAFailureBeforeAnyMove) {
  struct Case {
    const char* what;
    bool starts;
    platform::ChildEnd end;
    bool writes;
    const char* message;
    std::vector<std::string> causes;
  };
  const Case cases[] = {
      {"cannot start",
       false,
       {},
       true,
       "uglifyjs could not be started",
       {"no such program (os error 2)"}},
      {"exits non-zero", true, {false, 3}, true, "uglifyjs exited with status 3", {}},
      {"killed", true, {true, 9}, true, "uglifyjs was killed by signal 9", {}},
      {"leaves its output empty",
       true,
       {},
       false,
       "uglifyjs exited with status 0 but left its output empty",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const BundleWorld world(Kind::js);
    TestEnv env(world);
    env.minifier_starts = c.starts;
    env.minifier_end = c.end;
    env.minifier_writes = c.writes;
    const Result<> built = world.build(env);
    ASSERT_FALSE(built);
    EXPECT_EQ(built.error().message, c.message);
    EXPECT_EQ(built.error().causes, c.causes);
    EXPECT_TRUE(world.untouched());
    EXPECT_EQ(entries_in(world, "tmp"), 0u);
  }
}

}  // namespace
}  // namespace brelix::testing
