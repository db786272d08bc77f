#pragma once
// What the builds ask of the system, as one interface: the standard
// streams, the environment, files, directories, moves, child processes and
// HTTP requests. default_env() is the system itself, through the platform layer; an EnvWrapper
// forwards every call to another Env, so a test can override the one call it wants to fail (a write
// that fails after N bytes, a rename that reports another device, a minifier that dies) and run the
// build in process, on every platform.
//
// The calls mean what the platform functions of the same name mean
// (platform.h); their failures are the same values. The interruption
// handling, which must work from a signal handler, stays with the platform
// layer's own functions.

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "src/failure.h"
#include "src/platform/http.h"
#include "src/platform/platform.h"

namespace brelix::platform {

class Env {
 public:
  Env() = default;
  virtual ~Env() = default;
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  // ---- Standard streams
  virtual bool write(Stream stream, std::string_view text) = 0;

  // ---- Environment, for the expansion of written paths
  virtual EnvValue environment_variable(std::string_view name) = 0;
  virtual std::optional<std::string> home_directory() = 0;

  // ---- Files
  virtual bool exists(std::string_view path) = 0;
  virtual Result<> delete_file(std::string_view path) = 0;
  virtual Result<File> open_for_append(std::string_view path) = 0;
  virtual Result<File> open_for_write(std::string_view path) = 0;
  // file.write_all and file.sync_and_close, so that they can fail on request.
  virtual Result<> write_file(File& file, std::string_view bytes) = 0;
  virtual Result<> sync_and_close(File& file) = 0;
  virtual Result<std::string> read_whole(std::string_view path) = 0;
  virtual std::expected<std::string, SourceFailure> read_regular_file(std::string_view path) = 0;
  virtual std::optional<std::uint64_t> regular_file_size(std::string_view path) = 0;

  // ---- Moves
  virtual std::expected<void, RenameFailure> rename_file(std::string_view from,
                                                         std::string_view to) = 0;
  virtual Result<std::pair<File, std::string>> create_unique_file(std::string_view directory,
                                                                  std::string_view prefix) = 0;
  virtual void sync_directory(std::string_view path) = 0;
  virtual void remove_stale_files(std::string_view directory, std::string_view prefix,
                                  std::int64_t max_age_seconds) = 0;

  // ---- Directories
  virtual std::optional<std::string> temporary_directory() = 0;
  virtual std::optional<std::string> system_temporary_directory() = 0;
  virtual bool is_shared_unsafely(std::string_view directory) = 0;
  virtual Result<std::string> create_private_directory(std::string_view parent,
                                                       std::string_view prefix) = 0;

  // ---- Child processes
  virtual Result<Child> start_command(std::string_view program,
                                      std::span<const std::string> arguments) = 0;
  virtual Result<PipedChild> start_command_with_error_pipe(
      std::string_view program, std::span<const std::string> arguments) = 0;
  // child.wait(). Requires: child started and not yet waited for.
  virtual Result<ChildEnd> wait(Child& child) = 0;

  // ---- The minifier cache's folder and entries
  virtual Result<FolderTrust> folder_trust(std::string_view path) = 0;
  virtual std::optional<OwnedFile> open_owned_file(std::string_view path) = 0;
  virtual Result<std::string> read_up_to(File& file, std::size_t count) = 0;
  virtual Result<std::vector<DirectoryFile>> list_files(std::string_view directory) = 0;

  // ---- Destination folders and the console clock
  virtual Result<> check_folder_writable(std::string_view path) = 0;
  virtual std::optional<std::size_t> console_columns(Stream stream) = 0;
  virtual Result<> close_file(File& file) = 0;

  // ---- HTTP
  virtual Result<HttpResponse> http_request(const HttpRequest& request) = 0;
};

// The system, through the platform layer. Lives for the whole process.
Env& default_env();

// Forwards every call to the Env it was given; derive from it and override
// what a test must change. Requires: target outlives the wrapper.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}

  bool write(Stream stream, std::string_view text) override { return target_.write(stream, text); }
  EnvValue environment_variable(std::string_view name) override {
    return target_.environment_variable(name);
  }
  std::optional<std::string> home_directory() override { return target_.home_directory(); }
  bool exists(std::string_view path) override { return target_.exists(path); }
  Result<> delete_file(std::string_view path) override { return target_.delete_file(path); }
  Result<File> open_for_append(std::string_view path) override {
    return target_.open_for_append(path);
  }
  Result<File> open_for_write(std::string_view path) override {
    return target_.open_for_write(path);
  }
  Result<> write_file(File& file, std::string_view bytes) override {
    return target_.write_file(file, bytes);
  }
  Result<> sync_and_close(File& file) override { return target_.sync_and_close(file); }
  Result<std::string> read_whole(std::string_view path) override {
    return target_.read_whole(path);
  }
  std::expected<std::string, SourceFailure> read_regular_file(std::string_view path) override {
    return target_.read_regular_file(path);
  }
  std::optional<std::uint64_t> regular_file_size(std::string_view path) override {
    return target_.regular_file_size(path);
  }
  std::expected<void, RenameFailure> rename_file(std::string_view from,
                                                 std::string_view to) override {
    return target_.rename_file(from, to);
  }
  Result<std::pair<File, std::string>> create_unique_file(std::string_view directory,
                                                          std::string_view prefix) override {
    return target_.create_unique_file(directory, prefix);
  }
  void sync_directory(std::string_view path) override { target_.sync_directory(path); }
  void remove_stale_files(std::string_view directory, std::string_view prefix,
                          std::int64_t max_age_seconds) override {
    target_.remove_stale_files(directory, prefix, max_age_seconds);
  }
  std::optional<std::string> temporary_directory() override {
    return target_.temporary_directory();
  }
  std::optional<std::string> system_temporary_directory() override {
    return target_.system_temporary_directory();
  }
  bool is_shared_unsafely(std::string_view directory) override {
    return target_.is_shared_unsafely(directory);
  }
  Result<std::string> create_private_directory(std::string_view parent,
                                               std::string_view prefix) override {
    return target_.create_private_directory(parent, prefix);
  }
  Result<Child> start_command(std::string_view program,
                              std::span<const std::string> arguments) override {
    return target_.start_command(program, arguments);
  }
  Result<PipedChild> start_command_with_error_pipe(
      std::string_view program, std::span<const std::string> arguments) override {
    return target_.start_command_with_error_pipe(program, arguments);
  }
  Result<ChildEnd> wait(Child& child) override { return target_.wait(child); }
  Result<FolderTrust> folder_trust(std::string_view path) override {
    return target_.folder_trust(path);
  }
  std::optional<OwnedFile> open_owned_file(std::string_view path) override {
    return target_.open_owned_file(path);
  }
  Result<std::string> read_up_to(File& file, std::size_t count) override {
    return target_.read_up_to(file, count);
  }
  Result<std::vector<DirectoryFile>> list_files(std::string_view directory) override {
    return target_.list_files(directory);
  }

  Result<> check_folder_writable(std::string_view path) override {
    return target_.check_folder_writable(path);
  }
  std::optional<std::size_t> console_columns(Stream stream) override {
    return target_.console_columns(stream);
  }
  Result<> close_file(File& file) override { return target_.close_file(file); }

  Result<HttpResponse> http_request(const HttpRequest& request) override {
    return target_.http_request(request);
  }

 protected:
  Env& target() { return target_; }

 private:
  Env& target_;
};

}  // namespace brelix::platform
