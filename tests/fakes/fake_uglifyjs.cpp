// A stand-in for uglifyjs in tests: where the real one cannot run (under
// Wine there is no node) or where a test must make it fail, die or take
// its time. Called as uglifyjs is, "IN -c toplevel -m toplevel -o OUT", it
// writes "/*min*/" and IN's bytes to OUT. BRELIX_FAKE_UGLIFYJS chooses
// another behaviour: "fail" (writes junk to OUT, exits 3), "abort" (dies by
// abort()), "slow" (waits a second first), "slow:MS" (waits MS
// milliseconds first), "warn:MS" (waits MS milliseconds, writes the line
// "fake: a warning" to standard error, waits MS milliseconds again), "empty"
// (leaves OUT empty, exits 0), "delete" (removes OUT, exits 0),
// "parse-error:LINE,COL" (reports a parse error at that position of IN on
// standard error, as a line and as an error object, in two writes that
// split a line, exits 1). With "--source-map" after the arguments it writes
// OUT.map too. BRELIX_FAKE_UGLIFYJS_LOG names a
// file that gets each argument on a line of its own and, where /proc shows
// them, the files the process holds open, one "open N: TARGET" line for each
// descriptor N (one of them is the listing of /proc/self/fd itself).
//
// Called directly, "--exit N" exits with N, "--abort" aborts and
// "--echo FILE ARGS..." writes ARGS to FILE, one per line.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>

namespace {

std::string read_all(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_all(const char* path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string open_files() {
  std::string out;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code ignored;
    out += "open " + entry.path().filename().string() + ": " +
           std::filesystem::read_symlink(entry.path(), ignored).string() + "\n";
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view first = argc > 1 ? argv[1] : "";
  if (first == "--exit" && argc > 2) return std::atoi(argv[2]);
  if (first == "--abort") std::abort();
  if (first == "--echo" && argc > 2) {
    std::string lines;
    for (int i = 3; i < argc; ++i) lines += std::string(argv[i]) + "\n";
    write_all(argv[2], lines);
    return 0;
  }

  const char* mode_text = std::getenv("BRELIX_FAKE_UGLIFYJS");
  const std::string_view mode = mode_text != nullptr ? mode_text : "";
  if (const char* log = std::getenv("BRELIX_FAKE_UGLIFYJS_LOG"); log != nullptr) {
    std::string lines;
    for (int i = 1; i < argc; ++i) lines += std::string(argv[i]) + "\n";
    lines += open_files();
    write_all(log, lines);
  }
  // "--source-map" after them: OUT.map maps OUT's first column to IN's.
  const bool map = argc == 9 && std::string_view(argv[8]) == "--source-map";
  if (argc != 8 && !map) return 64;
  if (map) {
    write_all((std::string(argv[7]) + ".map").c_str(),
              "{\"version\":3,\"sources\":[\"in\"],\"names\":[],\"mappings\":\"AAAA\"}");
  }
  const char* in = argv[1];
  const char* out = argv[7];
  if (mode == "fail") {
    write_all(out, "junk");
    return 3;
  }
  if (mode == "abort") std::abort();
  if (mode == "empty") {
    write_all(out, "");
    return 0;
  }
  if (mode.starts_with("parse-error:")) {
    const std::string position(mode.substr(12));
    const std::size_t comma = position.find(',');
    std::string escaped;
    for (const char c : std::string_view(in)) {
      if (c == '\\' || c == '\'') escaped.push_back('\\');
      escaped.push_back(c);
    }
    const std::string report =
        "Parse error at " + std::string(in) + ":" + position +
        "\nbad(;\n    ^\n{ [JS_Parse_Error: Unexpected token]\n  filename: '" + escaped +
        "',\n  line: " + position.substr(0, comma) + ",\n  col: " + position.substr(comma + 1) +
        ",\n  pos: 9 }\n";
    std::fwrite(report.data(), 1, 20, stderr);
    std::fflush(stderr);
    std::fwrite(report.data() + 20, 1, report.size() - 20, stderr);
    return 1;
  }
  if (mode == "delete") {
    std::error_code ignored;
    std::filesystem::remove(out, ignored);
    return 0;
  }
  if (mode == "slow") std::this_thread::sleep_for(std::chrono::seconds(1));
  if (mode.starts_with("slow:")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(mode.substr(5).data())));
  }
  if (mode.starts_with("warn:")) {
    const std::chrono::milliseconds pause(std::atoi(mode.substr(5).data()));
    std::this_thread::sleep_for(pause);
    std::fputs("fake: a warning\n", stderr);
    std::fflush(stderr);
    std::this_thread::sleep_for(pause);
  }
  write_all(out, "/*min*/" + read_all(in));
  return 0;
}
