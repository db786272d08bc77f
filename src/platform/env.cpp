#include "src/platform/env.h"

namespace brelix::platform {
namespace {

class SystemEnv final : public Env {
 public:
  bool write(Stream stream, std::string_view text) override {
    return platform::write(stream, text);
  }
  EnvValue environment_variable(std::string_view name) override {
    return platform::environment_variable(name);
  }
  std::optional<std::string> home_directory() override { return platform::home_directory(); }
  bool exists(std::string_view path) override { return platform::exists(path); }
  Result<> delete_file(std::string_view path) override { return platform::delete_file(path); }
  Result<File> open_for_append(std::string_view path) override {
    return platform::open_for_append(path);
  }
  Result<File> open_for_write(std::string_view path) override {
    return platform::open_for_write(path);
  }
  Result<> write_file(File& file, std::string_view bytes) override { return file.write_all(bytes); }
  Result<> sync_and_close(File& file) override { return file.sync_and_close(); }
  Result<std::string> read_whole(std::string_view path) override {
    return platform::read_whole(path);
  }
  std::expected<std::string, SourceFailure> read_regular_file(std::string_view path) override {
    return platform::read_regular_file(path);
  }
  std::optional<std::uint64_t> regular_file_size(std::string_view path) override {
    return platform::regular_file_size(path);
  }
  std::expected<void, RenameFailure> rename_file(std::string_view from,
                                                 std::string_view to) override {
    return platform::rename_file(from, to);
  }
  Result<std::pair<File, std::string>> create_unique_file(std::string_view directory,
                                                          std::string_view prefix) override {
    return platform::create_unique_file(directory, prefix);
  }
  void sync_directory(std::string_view path) override { platform::sync_directory(path); }
  void remove_stale_files(std::string_view directory, std::string_view prefix,
                          std::int64_t max_age_seconds) override {
    platform::remove_stale_files(directory, prefix, max_age_seconds);
  }
  std::optional<std::string> temporary_directory() override {
    return platform::temporary_directory();
  }
  std::optional<std::string> system_temporary_directory() override {
    return platform::system_temporary_directory();
  }
  bool is_shared_unsafely(std::string_view directory) override {
    return platform::is_shared_unsafely(directory);
  }
  Result<std::string> create_private_directory(std::string_view parent,
                                               std::string_view prefix) override {
    return platform::create_private_directory(parent, prefix);
  }
  Result<Child> start_command(std::string_view program,
                              std::span<const std::string> arguments) override {
    return platform::start_command(program, arguments);
  }
  Result<PipedChild> start_command_with_error_pipe(
      std::string_view program, std::span<const std::string> arguments) override {
    return platform::start_command_with_error_pipe(program, arguments);
  }
  Result<ChildEnd> wait(Child& child) override { return child.wait(); }
  Result<FolderTrust> folder_trust(std::string_view path) override {
    return platform::folder_trust(path);
  }
  std::optional<OwnedFile> open_owned_file(std::string_view path) override {
    return platform::open_owned_file(path);
  }
  Result<std::string> read_up_to(File& file, std::size_t count) override {
    return platform::read_up_to(file, count);
  }
  Result<std::vector<DirectoryFile>> list_files(std::string_view directory) override {
    return platform::list_files(directory);
  }

  Result<> check_folder_writable(std::string_view path) override {
    return platform::check_folder_writable(path);
  }
  std::optional<std::size_t> console_columns(Stream stream) override {
    return platform::console_columns(stream);
  }
  Result<> close_file(File& file) override { return platform::close_file(file); }

  Result<HttpResponse> http_request(const HttpRequest& request) override {
    return platform::http_request(request);
  }
};

}  // namespace

Env& default_env() {
  static SystemEnv env;
  return env;
}

}  // namespace brelix::platform
