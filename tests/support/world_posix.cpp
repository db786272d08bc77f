// Test worlds on POSIX: posix_spawn with the standard streams redirected to
// files, so that a chatty child can never block on a full pipe.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/support/world_platform.h"

extern char** environ;

namespace brelix::testing {
namespace {

std::string slurp(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

}  // namespace

bool on_windows() {
  return false;
}

std::map<std::string, std::string> current_environment() {
  std::map<std::string, std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    const std::size_t equals = text.find('=');
    if (equals != std::string::npos && equals > 0) {
      env.emplace(text.substr(0, equals), text.substr(equals + 1));
    }
  }
  return env;
}

std::string self_path() {
  std::string buffer(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
  buffer.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return buffer;
}

std::string native_path(const std::string& path) {
  return path;
}

RunResult spawn_and_wait(const std::string& executable, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, const RunOptions& options,
                         const std::string& capture) {
  RunResult result;
  {
    std::ofstream input(capture + ".in", std::ios::binary);
    if (options.input) input << *options.input;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, (capture + ".in").c_str(), O_RDONLY, 0);
  if (options.close_stdout) {
    posix_spawn_file_actions_addclose(&actions, 1);
  } else if (!options.stdout_path.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, options.stdout_path.c_str(), O_WRONLY, 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, (capture + ".out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  posix_spawn_file_actions_addopen(&actions, 2, (capture + ".err").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);

  std::vector<std::string> argv_text;
  argv_text.push_back(options.argv0.empty() ? executable : options.argv0);
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text;
  for (const auto& [name, value] : env) env_text.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, executable.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    result.err = "could not start " + executable;
    return result;
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
  int status = 0;
  while (true) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      result.timed_out = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.status = 128 + WTERMSIG(status);
  }
  result.out = slurp(capture + ".out");
  result.err = slurp(capture + ".err");
  return result;
}

}  // namespace brelix::testing
