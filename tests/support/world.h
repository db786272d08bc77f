#pragma once
// A world of its own for a black-box test: a fresh temporary folder with
// tmp/ and home/ inside, an environment that points TMPDIR (TMP, TEMP) and
// HOME (USERPROFILE) there, and a way to run the project's programs in it
// and capture what they print. The world removes only the folder it made.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brelix::testing {

struct RunResult {
  int status = -1;  // exit status; -1 when the program could not be run
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error, byte for byte
  bool timed_out = false;
};

struct RunOptions {
  std::optional<std::string> input;  // standard input; empty input when absent
  int timeout_seconds = 300;         // the program is killed after this
  // Where standard output goes instead of being captured ("" = captured),
  // e.g. "/dev/full" to make every write fail.
  std::string stdout_path;
  // Standard output closed altogether.
  bool close_stdout = false;
  // Argument zero as the program sees it; the program's path when empty.
  std::string argv0;
};

class World {
 public:
  World();
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  // The world's folder, with forward slashes.
  const std::string& root() const { return root_; }
  std::string path(std::string_view relative) const;

  // Creates parent folders as needed.
  void write_file(std::string_view relative, std::string_view bytes) const;
  std::string read_file(std::string_view relative) const;
  bool exists(std::string_view relative) const;
  void make_dir(std::string_view relative) const;

  void set_env(const std::string& name, const std::string& value);
  void unset_env(const std::string& name);
  // The environment the world's programs get.
  std::map<std::string, std::string> environment() const;

  // Runs a program built with the project (bin/ beside the test program).
  RunResult run(std::string_view program, const std::vector<std::string>& args,
                const RunOptions& options = {}) const;
  // Runs any executable by path.
  RunResult run_path(const std::string& executable, const std::vector<std::string>& args,
                     const RunOptions& options = {}) const;

 private:
  std::string base_;  // holds world/ and the capture files, outside the world
  std::string root_;
  std::map<std::string, std::optional<std::string>> overrides_;
  mutable int runs_ = 0;
};

// The path of a program built with the project, beside the test program
// (".exe" appended on Windows).
std::string program_path(std::string_view name);
// The repository's source folder.
std::string source_dir();
// True when the tests run as the Windows build.
bool on_windows();
// An argument list and a world's environment as the null-terminated arrays
// of C strings that a test starting a program itself hands to the system.
// The arrays point into the object, which must outlive their use.
class CArguments {
 public:
  CArguments(std::vector<std::string> args, const World& world) : args_(std::move(args)) {
    for (const auto& [name, value] : world.environment()) env_.push_back(name + "=" + value);
    for (std::string& arg : args_) argv_.push_back(arg.data());
    argv_.push_back(nullptr);
    for (std::string& entry : env_) envp_.push_back(entry.data());
    envp_.push_back(nullptr);
  }
  CArguments(const CArguments&) = delete;
  CArguments& operator=(const CArguments&) = delete;

  char* const* argv() const { return argv_.data(); }
  char* const* envp() const { return envp_.data(); }

 private:
  std::vector<std::string> args_;
  std::vector<std::string> env_;
  std::vector<char*> argv_;
  std::vector<char*> envp_;
};

// The text cut at line feeds, without them; a final line feed ends the last
// line rather than starting an empty one.
std::vector<std::string> lines_of(const std::string& text);

}  // namespace brelix::testing
