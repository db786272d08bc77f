#pragma once
// An Env for building bundles in process, in a world of the test's own:
// the temporary directory is the world's tmp/, standard output is captured,
// the minifier is played by the test (it puts "/*min*/" before the release
// file's text, as the stand-in program does), and any one write, sync,
// rename or progress line can be made to fail.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/platform/env.h"
#include "tests/support/world.h"

namespace brelix::testing {

inline constexpr std::string_view minified_marker = "/*min*/";
// What a refused write, sync or rename reports.
inline constexpr std::string_view refused_text = "refused by the test (os error 28)";

class TestEnv : public platform::EnvWrapper {
 public:
  explicit TestEnv(const World& world) : EnvWrapper(platform::default_env()), world_(world) {}

  // 1-based: the call that fails; 0 for none.
  int refuse_write_at = 0;
  int refuse_sync_at = 0;
  int refuse_progress_at = 0;
  // Every rename reports another device, so each move copies.
  bool cross_device = false;
  // How the minifier ends, and whether it can be started at all.
  platform::ChildEnd minifier_end;
  bool minifier_starts = true;
  // false: the minifier leaves its output empty.
  bool minifier_writes = true;

  int writes = 0;
  int syncs = 0;
  int progress_lines = 0;
  int minifier_runs = 0;
  std::string out;

  bool write(platform::Stream stream, std::string_view text) override {
    if (stream == platform::Stream::error) return EnvWrapper::write(stream, text);
    if (++progress_lines == refuse_progress_at) return false;
    out.append(text);
    return true;
  }
  Result<> write_file(platform::File& file, std::string_view bytes) override {
    if (++writes == refuse_write_at) return fail(std::string(refused_text));
    return EnvWrapper::write_file(file, bytes);
  }
  Result<> sync_and_close(platform::File& file) override {
    if (++syncs == refuse_sync_at) {
      file.close();
      return fail(std::string(refused_text));
    }
    return EnvWrapper::sync_and_close(file);
  }
  std::expected<void, platform::RenameFailure> rename_file(std::string_view from,
                                                           std::string_view to) override {
    if (cross_device && std::string_view(from).find(".brelix-move-") == std::string_view::npos) {
      return std::unexpected(
          platform::RenameFailure{Failure::of("another device (os error 18)"), true});
    }
    return EnvWrapper::rename_file(from, to);
  }
  std::optional<std::string> temporary_directory() override { return world_.path("tmp"); }
  Result<platform::Child> start_command(std::string_view,
                                        std::span<const std::string> arguments) override {
    if (!minifier_starts) return fail("no such program (os error 2)");
    release_ = arguments.front();
    return platform::Child();
  }
  // The played minifier reports nothing: its pipe is closed.
  Result<platform::PipedChild> start_command_with_error_pipe(
      std::string_view program, std::span<const std::string> arguments) override {
    Result<platform::Child> child = start_command(program, arguments);
    if (!child) return std::unexpected(std::move(child.error()));
    return platform::PipedChild{std::move(*child), platform::File()};
  }
  Result<platform::ChildEnd> wait(platform::Child&) override {
    ++minifier_runs;
    const Result<std::string> input = read_whole(release_);
    Result<platform::File> output = open_for_write(release_);
    if (!input || !output) return fail("the test's minifier could not run");
    if (minifier_writes) {
      (void)platform::default_env().write_file(*output, std::string(minified_marker) + *input);
    }
    return minifier_end;
  }

 private:
  const World& world_;
  std::string release_;
};

}  // namespace brelix::testing
