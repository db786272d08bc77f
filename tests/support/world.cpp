#include "tests/support/world.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "tests/support/world_platform.h"

namespace fs = std::filesystem;

namespace brelix::testing {
namespace {

std::string generic(const fs::path& p) {
  return p.generic_string();
}

fs::path fresh_base() {
  std::random_device device;
  std::mt19937_64 random(device());
  const fs::path temp = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = temp / ("brelix-test-" + std::to_string(random() % 1000000000000ULL));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      return candidate;
    }
  }
  ADD_FAILURE() << "could not create a test folder in " << temp;
  return temp / "brelix-test-unavailable";
}

}  // namespace

World::World() {
  const fs::path base = fresh_base();
  base_ = generic(base);
  root_ = generic(base / "world");
  fs::create_directories(base / "world" / "tmp");
  fs::create_directories(base / "world" / "home");
  fs::create_directories(base / "capture");
}

World::~World() {
  std::error_code error;
  // Make read-only folders a test created removable again first.
  for (auto it = fs::recursive_directory_iterator(
           base_, fs::directory_options::skip_permission_denied, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code ignored;
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(base_, error);
}

std::string World::path(std::string_view relative) const {
  std::string out = root_;
  if (!relative.empty()) {
    out.push_back('/');
    out.append(relative);
  }
  return out;
}

void World::write_file(std::string_view relative, std::string_view bytes) const {
  const fs::path target(path(relative));
  fs::create_directories(target.parent_path());
  std::ofstream stream(target, std::ios::binary | std::ios::trunc);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!stream) {
    ADD_FAILURE() << "could not write " << target;
  }
}

std::string World::read_file(std::string_view relative) const {
  std::ifstream stream(fs::path(path(relative)), std::ios::binary);
  if (!stream) {
    ADD_FAILURE() << "could not read " << path(relative);
    return {};
  }
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

bool World::exists(std::string_view relative) const {
  std::error_code error;
  return fs::exists(fs::symlink_status(fs::path(path(relative)), error));
}

void World::make_dir(std::string_view relative) const {
  fs::create_directories(fs::path(path(relative)));
}

void World::set_env(const std::string& name, const std::string& value) {
  overrides_[name] = value;
}

void World::unset_env(const std::string& name) {
  overrides_[name] = std::nullopt;
}

std::map<std::string, std::string> World::environment() const {
  std::map<std::string, std::string> env = current_environment();
  // A test's outcome must not depend on the machine's own settings.
  for (const char* name : {"VTPATH", "NO_COLOR", "TERM", "RUST_BACKTRACE", "BRELIX_DEBUG"}) {
    env.erase(name);
  }
  const std::string tmp = native_path(path("tmp"));
  const std::string home = native_path(path("home"));
  env["TMPDIR"] = tmp;
  env["TMP"] = tmp;
  env["TEMP"] = tmp;
  env["HOME"] = home;
  env["USERPROFILE"] = home;
  for (const auto& [name, value] : overrides_) {
    if (value) {
      env[name] = *value;
    } else {
      env.erase(name);
    }
  }
  return env;
}

RunResult World::run(std::string_view program, const std::vector<std::string>& args,
                     const RunOptions& options) const {
  return run_path(program_path(program), args, options);
}

RunResult World::run_path(const std::string& executable, const std::vector<std::string>& args,
                          const RunOptions& options) const {
  const int run = ++runs_;
  const std::string capture = base_ + "/capture/" + std::to_string(run);
  RunResult result = spawn_and_wait(executable, args, environment(), options, capture);
  std::error_code error;
  fs::remove(capture + ".in", error);
  fs::remove(capture + ".out", error);
  fs::remove(capture + ".err", error);
  return result;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string program_path(std::string_view name) {
  std::string out = generic(fs::path(self_path()).parent_path());
  out.push_back('/');
  out.append(name);
  if (on_windows()) {
    out.append(".exe");
  }
  return out;
}

std::string source_dir() {
  return BRELIX_SOURCE_DIR;
}

}  // namespace brelix::testing
