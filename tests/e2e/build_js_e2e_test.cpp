// The JavaScript bundle build from outside: build_js_runner builds one
// bundle in a world of its own, with the real uglifyjs where node is at
// hand and with the stand-in where a test needs the minifier to fail, die
// or take its time (and everywhere under Wine, which has no node).

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "src/bundle/importer_snippet.h"
#include "tests/support/world.h"

namespace brelix::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

constexpr std::string_view marker = "/*min*/";  // what the stand-in puts first
constexpr std::string_view name = "Test - bundle";

std::string progress(bool append_extra, bool complete = true) {
  const std::string n(name);
  std::string out = n + ": start\n" + n + ": Concatenating files\n" + n + ": Concatenating done\n" +
                    n + ": Processing files\n";
  if (!complete) return out;
  if (append_extra) out += n + ": Appeding extra\n" + n + ": Appeding done\n";
  return out + n + ": done\n\n";
}

std::string system_path() {
  return on_windows() ? "C:\\windows\\system32;C:\\windows" : "/usr/bin:/bin";
}
char path_list_separator() {
  return on_windows() ? ';' : ':';
}

std::string native(std::string path) {
  if (on_windows()) std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

class JsWorld : public World {
 public:
  // The stand-in as uglifyjs on PATH, in the given mode ("" copies). On
  // Windows it is a .cmd script, as npm installs uglifyjs there, or with
  // as_program the program itself, which cmd finds first.
  void use_fake(const std::string& mode = "", bool as_program = false) {
    make_dir("bin");
    if (on_windows() && as_program) {
      fs::copy_file(program_path("fake_uglifyjs"), path("bin/uglifyjs.exe"));
    } else if (on_windows()) {
      write_file("bin/uglifyjs.cmd", "@\"" + native(program_path("fake_uglifyjs")) + "\" %*\r\n");
    } else {
      fs::copy_file(program_path("fake_uglifyjs"), path("bin/uglifyjs"));
    }
    set_env("PATH", native(path("bin")) + path_list_separator() + system_path());
    if (!mode.empty()) set_env("BRELIX_FAKE_UGLIFYJS", mode);
    set_env("BRELIX_FAKE_UGLIFYJS_LOG", native(path("log")));
  }
  // No uglifyjs anywhere on PATH.
  void use_none() { set_env("PATH", system_path()); }
  // The pinned uglifyjs; false where it cannot run.
  bool use_real() {
    const std::string bin = source_dir() + "/node_modules/.bin";
    if (on_windows() || !fs::exists(bin + "/uglifyjs")) return false;
    set_env("PATH", bin + ":" + system_path());
    return true;
  }

  RunResult build(std::string_view switches, const std::vector<std::string>& files,
                  const std::vector<std::string>& extra = {}, const RunOptions& options = {},
                  bool in_world = true) const {
    make_dir("dest");
    std::vector<std::string> args = {std::string(name), path("dest/out.js"),
                                     path("dest/out-debug.js"), std::string(switches)};
    for (const std::string& file : files) args.push_back(in_world ? path(file) : file);
    if (!extra.empty()) args.push_back("--");
    for (const std::string& file : extra) args.push_back(path(file));
    return run("build_js_runner", args, options);
  }

  // Destinations that must come through a failure untouched.
  void plant_old_outputs() const {
    write_file("dest/out.js", "old release");
    write_file("dest/out-debug.js", "old debug");
  }
  void expect_old_outputs() const {
    EXPECT_EQ(read_file("dest/out.js"), "old release");
    EXPECT_EQ(read_file("dest/out-debug.js"), "old debug");
  }
  std::vector<std::string> entries(std::string_view folder) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path(folder)))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

// ---- What the bundles hold ---------------------------------------------------

TEST(BuildJs, ThousandsOfSources) {
  JsWorld world;
  world.use_fake();
  std::vector<std::string> files;
  std::string expected;
  // Written through a variable, so that the command line stays within
  // what Windows allows.
  world.set_env("S", native(world.path("src")));
  for (int i = 0; i < 3000; ++i) {
    const std::string text = "f(" + std::to_string(i) + ");" + (i % 2 == 0 ? "\n" : "");
    world.write_file("src/" + std::to_string(i), text);
    files.push_back("$S/" + std::to_string(i));
    expected += "f(" + std::to_string(i) + ");\n";
  }
  const RunResult result = world.build("-", files, {}, {}, false);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(world.read_file("dest/out-debug.js"), expected);
  EXPECT_EQ(world.read_file("dest/out.js"), std::string(marker) + expected);
}

TEST(BuildJs, TheMinifierIsWaitedFor) {
  JsWorld world;
  world.use_fake("slow");
  world.write_file("src/a.js", "a();\n");
  const RunResult result = world.build("-", {"src/a.js"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(world.read_file("dest/out.js"), std::string(marker) + "a();\n");
}

// ---- The run's own directory ---------------------------------------------------

TEST(BuildJs, OutputsAreAssembledInADirectoryOfTheRunsOwn) {
  JsWorld world;
  world.use_fake();
  world.write_file("src/a.js", "a();\n");
  // Whatever sits at the old fixed names is neither read, followed nor
  // written.
  world.write_file("tmp/out-debug.js", "planted debug");
  world.write_file("victim.js", "victim");
  if (on_windows()) {
    world.write_file("tmp/out.js", "planted release");
  } else {
    fs::create_symlink(world.path("victim.js"), world.path("tmp/out.js"));
  }
  const RunResult result = world.build("-", {"src/a.js"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(world.read_file("victim.js"), "victim");
  EXPECT_EQ(world.read_file("tmp/out-debug.js"), "planted debug");
  if (on_windows()) {
    EXPECT_EQ(world.read_file("tmp/out.js"), "planted release");
  }
  // The directory is gone after the run; only what was planted is left.
  EXPECT_EQ(world.entries("tmp"), (std::vector<std::string>{"out-debug.js", "out.js"}));

  const std::vector<std::string> log = lines_of(world.read_file("log"));
  ASSERT_GE(log.size(), 7u);
  const fs::path release(log[0]);
  EXPECT_EQ(release.filename(), "out.js");
  EXPECT_TRUE(release.parent_path().filename().string().starts_with("brelix-"));
  EXPECT_EQ(fs::path(native(world.path("tmp"))), release.parent_path().parent_path());
  EXPECT_EQ(std::vector<std::string>(log.begin() + 1, log.begin() + 7),
            (std::vector<std::string>{"-c", "toplevel", "-m", "toplevel", "-o", log[0]}));
  // The minifier holds none of the build's handles (where /proc shows them).
  for (std::size_t i = 7; i < log.size(); ++i) {
    EXPECT_EQ(log[i].find("out.js"), std::string::npos) << log[i];
    EXPECT_EQ(log[i].find("out-debug.js"), std::string::npos) << log[i];
  }
}

TEST(BuildJs, CmdInterpretsNoCharacterOfTheTemporaryPath) {
  // Windows file names cannot hold " < > |; every other character cmd acts
  // on is here. Wine's cmd expands a variable reference even after the
  // caret that makes Windows' cmd leave it, and expands again what a .cmd
  // script passes on, where Windows' does not; so under Wine a reference
  // to a variable that is set cannot be shown to stay, and a .cmd script
  // gets no % at all.
  struct Case {
    const char* what;
    std::string folder;
    bool as_program;
  };
  const Case cases[] = {
      {"straight to the program", "tmp/a&b^c%BRELIX_E2E_UNSET%d!e(f) g;h,i=j'k 100%", true},
      {"through a .cmd script", "tmp/a&b^c!d(e) f;g,h=i'k", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JsWorld world;
    world.use_fake("", c.as_program);
    world.make_dir(c.folder);
    for (const char* variable : {"TMPDIR", "TMP", "TEMP"})
      world.set_env(variable, native(world.path(c.folder)));
    world.write_file("src/a.js", "a();");
    const RunResult result = world.build("i", {"src/a.js"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(world.read_file("dest/out.js"),
              std::string(marker) + "a();\n" + std::string(importer_snippet_release));
    const std::vector<std::string> log = lines_of(world.read_file("log"));
    ASSERT_GE(log.size(), 7u);
    EXPECT_EQ(fs::path(log[0]).parent_path().parent_path(), fs::path(native(world.path(c.folder))));
    EXPECT_EQ(log[6], log[0]);
  }
}

TEST(BuildJs, MoveAcrossFileSystemsCopiesBesideTheDestination) {
  std::error_code error;
  if (on_windows() || !fs::is_directory("/dev/shm", error))
    GTEST_SKIP() << "no second file system at hand";
  JsWorld world;
  world.use_fake();
  std::random_device device;
  const fs::path tmp = "/dev/shm/brelix-e2e-" + std::to_string(device()) + std::to_string(device());
  ASSERT_TRUE(fs::create_directory(tmp));
  world.set_env("TMPDIR", tmp.string());
  world.plant_old_outputs();
  world.write_file("src/a.js", "a();\n");
  const RunResult result = world.build("-", {"src/a.js"});
  const bool emptied = fs::is_empty(tmp, error);
  fs::remove(tmp, error);  // only the folder this test made, and only when empty
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(world.read_file("dest/out-debug.js"), "a();\n");
  EXPECT_EQ(world.read_file("dest/out.js"), std::string(marker) + "a();\n");
  EXPECT_EQ(world.entries("dest"), (std::vector<std::string>{"out-debug.js", "out.js"}));
  EXPECT_TRUE(emptied);
}

// ---- Failures ------------------------------------------------------------------

TEST(BuildJs, AMinifierThatDidNotFinishIsAFailureBeforeAnyMove) {
  struct Case {
    const char* what;
    std::string mode;  // "none": no uglifyjs at all
    std::string expected_error_start;
    std::string expected_error;  // whole report where the text is known
  };
  std::vector<Case> cases = {
      {"exits non-zero", "fail", "", "Error: uglifyjs exited with status 3\n"},
  };
  if (on_windows()) {
    cases.push_back({"dies", "abort", "", "Error: uglifyjs exited with status 3\n"});
    // cmd says it cannot find it, and ends with a status of its own.
    cases.push_back({"vanished", "none", "Error: uglifyjs exited with status ", ""});
  } else {
    cases.push_back({"dies", "abort", "",
                     "Error: uglifyjs was killed by signal " + std::to_string(SIGABRT) + "\n"});
    cases.push_back({"vanished", "none", "",
                     "Error: uglifyjs could not be started\n\nCaused by:\n    " +
                         std::string(std::strerror(ENOENT)) + " (os error 2)\n"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JsWorld world;
    if (c.mode == "none") {
      world.use_none();
    } else {
      world.use_fake(c.mode);
    }
    world.plant_old_outputs();
    world.write_file("src/a.js", "a();\n");
    world.write_file("src/x.js", "x();\n");
    const RunResult result = world.build("ie", {"src/a.js"}, {"src/x.js"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, progress(true, false));
    if (!c.expected_error.empty()) {
      EXPECT_EQ(result.err, c.expected_error);
    } else {
      const std::size_t at = result.err.find(c.expected_error_start);
      ASSERT_NE(at, std::string::npos) << result.err;
      EXPECT_NE(result.err.substr(at), c.expected_error_start + "0\n");
    }
    world.expect_old_outputs();
    EXPECT_TRUE(world.entries("tmp").empty()) << "the run's directory goes after a failure too";
  }
}

TEST(BuildJs, BadInputFailsWithTheSystemsTextNamesThePathAndLeavesDestinationsAlone) {
  struct Case {
    const char* what;
    std::vector<std::string> files;
    std::vector<std::string> extra;
    const char* out_debug;       // relative to the world; default dest/out-debug.js
    std::string expected_first;  // the report's first line where the text is known
    std::string expected_code;   // the " (os error N)" the first line must end with
    std::string expected_cause;  // the cause line, the path relative to the world after it
    std::string path;
  };
  const auto text = [](int error) { return std::string(std::strerror(error)); };
  const std::vector<Case> cases = {
      {"missing source",
       {"src/a.js", "src/missing.js"},
       {},
       nullptr,
       on_windows() ? "" : "Error: " + text(ENOENT) + " (os error 2)\n",
       " (os error 2)\n",
       "reading source ",
       "src/missing.js"},
      {"source is a directory",
       {"src"},
       {},
       nullptr,
       on_windows() ? "" : "Error: " + text(EISDIR) + " (os error 21)\n",
       on_windows() ? " (os error 5)\n" : " (os error 21)\n",
       "reading source ",
       "src"},
      {"missing extra",
       {"src/a.js"},
       {"src/missing.js"},
       nullptr,
       "",
       " (os error 2)\n",
       "reading source ",
       "src/missing.js"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JsWorld world;
    world.use_fake();
    world.plant_old_outputs();
    world.write_file("src/a.js", "a();\n");
    std::vector<std::string> args = {std::string(name), world.path("dest/out.js"),
                                     world.path(c.out_debug ? c.out_debug : "dest/out-debug.js"),
                                     "e"};
    for (const std::string& file : c.files) args.push_back(world.path(file));
    args.push_back("--");
    for (const std::string& file : c.extra) args.push_back(world.path(file));
    const RunResult result = world.run("build_js_runner", args);
    EXPECT_EQ(result.status, 1) << result.err;
    const std::size_t first_end = result.err.find('\n') + 1;
    const std::string first = result.err.substr(0, first_end);
    if (!c.expected_first.empty()) {
      EXPECT_EQ(first, c.expected_first);
    }
    EXPECT_TRUE(first.starts_with("Error: ")) << result.err;
    EXPECT_TRUE(first.ends_with(c.expected_code)) << result.err;
    EXPECT_EQ(result.err.substr(first_end),
              "\nCaused by:\n    " + c.expected_cause + world.path(c.path) + "\n");
    world.expect_old_outputs();
    EXPECT_TRUE(world.entries("tmp").empty());
  }
}

TEST(BuildJs, AnUnexpandableSourceIsReportedAsBefore) {
  JsWorld world;
  world.use_fake();
  const RunResult result = world.build("e", {"$BRELIX_E2E_UNSET/a.js"}, {}, {}, false);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            "Error: error looking key 'BRELIX_E2E_UNSET' up: environment variable not found\n\n"
            "Caused by:\n    environment variable not found\n");
}

TEST(BuildJs, PermissionsRefused) {
  JsWorld world;
  world.write_file("probe", "x");
  fs::permissions(world.path("probe"), fs::perms::none);
  const bool enforced = !std::ifstream(world.path("probe"));
  if (on_windows() || !enforced) GTEST_SKIP() << "access rights are not enforced for this user";
  world.use_fake();
  world.plant_old_outputs();
  world.write_file("src/a.js", "a();\n");
  world.write_file("src/secret.js", "s();\n");
  fs::permissions(world.path("src/secret.js"), fs::perms::none);
  const std::string refused =
      "Error: " + std::string(std::strerror(EACCES)) + " (os error 13)\n\nCaused by:\n    ";
  EXPECT_EQ(world.build("-", {"src/a.js", "src/secret.js"}).err,
            refused + "reading source " + world.path("src/secret.js") + "\n");
  world.expect_old_outputs();
  fs::permissions(world.path("dest"), fs::perms::owner_read | fs::perms::owner_exec);
  const RunResult result = world.build("-", {"src/a.js"});
  fs::permissions(world.path("dest"), fs::perms::owner_all);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            refused + "\nCaused by:\n    the destination folder " + world.path("dest") + "\n");
  world.expect_old_outputs();
}

TEST(BuildJs, AStandardOutputThatRefusesIsAFault) {
  std::vector<RunOptions> outputs(1);
  outputs[0].close_stdout = true;
  if (!on_windows()) {
    outputs.emplace_back();
    outputs.back().stdout_path = "/dev/full";
  }
  for (const RunOptions& options : outputs) {
    SCOPED_TRACE(options.close_stdout ? "closed" : options.stdout_path);
    JsWorld world;
    world.use_fake();
    world.plant_old_outputs();
    world.write_file("src/a.js", "a();\n");
    const RunResult result = world.build("-", {"src/a.js"}, {}, options);
    EXPECT_EQ(result.status, 101) << result.err;
    EXPECT_NE(result.err.find("could not write a progress line to standard output\n"),
              std::string::npos)
        << result.err;
    world.expect_old_outputs();
  }
}

// ---- A minifier's error positions, back in the sources ----------------------------

// Sources of 1, 2 (no final line feed), 0 and 3 lines: the concatenation's
// line 1 is a.js's, 2-3 b.js's (with the added line feed), 4-6 d.js's, 7
// the importer snippet's.
TEST(BuildJs, AParseErrorNamesTheSourceAndItsLine) {
  struct Case {
    const char* what;
    std::string source;     // the file the bad line goes in, "" for none
    std::string content;    // its content with the bad line
    std::string fake_mode;  // the stand-in's report, where the real minifier cannot run
    std::string expected;   // brelix's line, the source's path after it
  };
  const std::vector<Case> cases = {
      {"first source", "src/a.js", "bad(;\n", "parse-error:1,4",
       "brelix: that is line 1, column 4 of "},
      {"source without a final line feed", "src/b.js", "b();\nbad(;", "parse-error:3,4",
       "brelix: that is line 2, column 4 of "},
      {"last source, after an empty one", "src/d.js", "d();\n\n  bad(;\n", "parse-error:6,6",
       "brelix: that is line 3, column 6 of "},
      {"in the importer snippet", "", "", "parse-error:7,0", ""},
  };
  for (const bool real : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (real ? " (uglifyjs)" : " (stand-in)"));
      JsWorld world;
      if (real && (c.source.empty() || !world.use_real())) continue;
      if (!real) world.use_fake(c.fake_mode);
      world.write_file("src/a.js", "a();\n");
      world.write_file("src/b.js", "b();\nb();");
      world.write_file("src/c.js", "");
      world.write_file("src/d.js", "d();\nd();\nd();\n");
      if (!c.source.empty()) world.write_file(c.source, c.content);
      const std::vector<std::string> files = {"src/a.js", "src/b.js", "src/c.js", "src/d.js"};
      const RunResult result = world.build("i", files);
      EXPECT_EQ(result.status, 1);
      const std::string tail = "Error: uglifyjs exited with status 1\n";
      ASSERT_TRUE(result.err.ends_with(tail)) << result.err;
      const std::string before = result.err.substr(0, result.err.size() - tail.size());
      if (c.expected.empty()) {
        EXPECT_EQ(before.find("brelix:"), std::string::npos) << result.err;
      } else {
        EXPECT_TRUE(before.ends_with(c.expected + world.path(c.source) + "\n")) << result.err;
        EXPECT_EQ(before.find("brelix:"), before.rfind("brelix:")) << "one line only";
      }
      if (!real) {
        EXPECT_TRUE(before.starts_with("Parse error at ")) << "passed on unchanged";
      }
    }
  }
}

// ---- Source maps -----------------------------------------------------------------

TEST(BuildJs, SourceMapsLeaveTheCodeAsItIsAndPointIntoTheSources) {
  struct Case {
    std::string mode;
    std::string release_end;  // how the release bundle ends, after the code
    bool maps;
  };
  const std::vector<Case> cases = {
      {"", "x=1;\n//# sourceMappingURL=x.min.js.map\n", false},
      {"hidden", "x=1;\n", true},
      {"linked", "x=1;\n//# sourceMappingURL=out.js.map\n", true},
  };
  std::string plain_code;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    JsWorld world;
    if (!world.use_real()) GTEST_SKIP() << "uglify-js is not installed (npm ci) or cannot run here";
    if (!c.mode.empty()) world.set_env("BRELIX_SOURCE_MAPS", c.mode);
    world.write_file("src/a.js",
                     "var someLongName = 'abcd';\nfunction f(b) { return b + someLongName; }\n");
    world.write_file("src/b.js", "\nconsole.log(f('efgh'));");
    world.write_file("src/x.js", "x=1;\n//# sourceMappingURL=x.min.js.map\n");
    const RunResult result = world.build("e", {"src/a.js", "src/b.js"}, {"src/x.js"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string release = world.read_file("dest/out.js");
    ASSERT_TRUE(release.ends_with(c.release_end)) << release;
    const std::string code = release.substr(0, release.size() - c.release_end.size());
    if (plain_code.empty()) plain_code = code;
    EXPECT_EQ(code, plain_code) << "the minified code is the same with maps";
    const std::vector<std::string> with_maps = {"out-debug.js", "out-debug.js.map", "out.js",
                                                "out.js.map"};
    const std::vector<std::string> without = {"out-debug.js", "out.js"};
    EXPECT_EQ(world.entries("dest"), c.maps ? with_maps : without);
    if (!c.maps) continue;
    // uglify's own map of the concatenated text reads
    // "AAGAA,QAAQC,IAFeC,UAEF": lines 3, 3, 1, 3 of it (from 0) at columns
    // 0, 8, 23, 21; here the same columns in b.js line 1, b.js line 1,
    // a.js line 1 and b.js line 1.
    EXPECT_EQ(world.read_file("dest/out.js.map"),
              "{\"version\":3,\"file\":\"out.js\",\"sources\":[\"../src/a.js\",\"../src/b.js\"],"
              "\"names\":[\"console\",\"log\",\"b\"],\"mappings\":\"ACCAA,QAAQC,IDAeC,UCAF\"}");
    EXPECT_EQ(world.read_file("dest/out-debug.js.map"),
              "{\"version\":3,\"file\":\"out-debug.js\",\"sources\":[\"../src/a.js\",\"../"
              "src/b.js\"],\"names\":[],\"mappings\":\"AAAA;AACA;ACDA;AACA\"}");
  }
}

// ---- Licence notices --------------------------------------------------------------

TEST(BuildJs, LicenceNoticesAreKeptAtTheEndOrBesideTheBundle) {
  // A notice in a string, a regular expression holding a quote and "/*!"
  // and a repeated notice must not be taken; a "@license" one must.
  const std::string a = "/*! A v1 | MIT */\nvar s = '/*! not one */';\nvar r = /'\\/*!x/;\n";
  const std::string b = "/* plain */ x = a / 2 / 1;\n/** @license B */\n/*! A v1 | MIT */\n";
  const std::string notices = "/*! A v1 | MIT */\n/** @license B */\n";
  struct Case {
    std::string mode;
    std::string release_tail;  // after the stand-in's copy of the sources
    std::string licence_file;  // "-": none
  };
  const std::vector<Case> cases = {
      {"", "x();\n", "-"},
      {"eof", "\n" + notices + "x();\n", "-"},
      {"external", "x();\n", notices},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    JsWorld world;
    world.use_fake();
    if (!c.mode.empty()) world.set_env("BRELIX_LEGAL_COMMENTS", c.mode);
    world.write_file("src/a.js", a);
    world.write_file("src/b.js", b);
    world.write_file("src/x.js", "x();\n");
    const RunResult result = world.build("e", {"src/a.js", "src/b.js"}, {"src/x.js"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(world.read_file("dest/out.js"), std::string(marker) + a + b + c.release_tail);
    EXPECT_EQ(world.read_file("dest/out-debug.js"), a + b + "x();\n");
    if (c.licence_file == "-") {
      EXPECT_FALSE(world.exists("dest/out.LICENSE.txt"));
    } else {
      EXPECT_EQ(world.read_file("dest/out.LICENSE.txt"), c.licence_file);
    }
  }
}

// ---- The real minifier -----------------------------------------------------------

TEST(BuildJs, TheReleaseBundleIsReallyMinifiedAndStillRuns) {
  JsWorld world;
  if (!world.use_real()) GTEST_SKIP() << "uglify-js is not installed (npm ci) or cannot run here";
  const char* node = "/usr/bin/node";
  if (!fs::exists(node)) GTEST_SKIP() << "no node";
  world.write_file("src/widget.js",
                   "class VeltranoVeryLongWidgetName {\n"
                   "  constructor(initialCount) {\n"
                   "    this.countOfThings = initialCount * 2;\n"
                   "  }\n"
                   "}\n"
                   "const aWidgetInstanceWithLongName = new VeltranoVeryLongWidgetName(21);\n"
                   "globalThis.made = aWidgetInstanceWithLongName.countOfThings;\n");
  world.write_file("src/lib.min.js", "globalThis.lib=1;\n//# sourceMappingURL=lib.min.js.map");
  world.write_file("src/extra.min.js", "globalThis.extra=3;");
  const RunResult result =
      world.build("ie", {"src/lib.min.js", "src/widget.js"}, {"src/extra.min.js"});
  ASSERT_EQ(result.status, 0) << result.err;
  const std::string release = world.read_file("dest/out.js");
  const std::string debug = world.read_file("dest/out-debug.js");
  EXPECT_LT(release.size(), debug.size() / 2);
  EXPECT_EQ(release.find("VeltranoVeryLongWidgetName"), std::string::npos) << release;
  EXPECT_EQ(release.find("aWidgetInstanceWithLongName"), std::string::npos) << release;
  EXPECT_EQ(release.find("\t\t\t"), std::string::npos) << "the snippet was minified too";
  EXPECT_TRUE(release.ends_with("globalThis.extra=3;\n")) << release;
  EXPECT_TRUE(debug.ends_with(std::string(importer_snippet_debug) + "globalThis.extra=3;\n"));

  const std::string check =
      "globalThis.Ext={define:(n,b)=>{globalThis.defined=n;globalThis.body=b;}};"
      "require(process.argv[1]);"
      "process.stdout.write([defined,made,lib,extra,JSON.stringify(body.requiredScripts),body."
      "singleton].join(' '));";
  for (const auto& [file, script] :
       {std::pair<std::string, std::string>{"dest/out.js", "/veltrano/system.js"},
        {"dest/out-debug.js", "/veltrano/system-debug.js"}}) {
    const RunResult ran = world.run_path(node, {"-e", check, world.path(file)});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out, "Veltrano.boot.Importer 42 1 3 [\"" + script + "\"] true") << file;
  }
}

}  // namespace
}  // namespace brelix::testing
