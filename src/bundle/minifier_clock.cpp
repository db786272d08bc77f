#include "src/bundle/minifier_clock.h"

#include <array>
#include <chrono>
#include <cstdio>

namespace brelix {
namespace {

constexpr auto tick_interval = std::chrono::milliseconds(200);

}  // namespace

MinifierClock::MinifierClock(platform::Env& env, std::string_view name)
    : env_(env), name_(name), columns_(env.console_columns(platform::Stream::output)) {}

MinifierClock::~MinifierClock() {
  stop();
}

Result<platform::Child> MinifierClock::start(std::string_view program,
                                             std::span<const std::string> arguments) {
  if (!columns_) {
    return env_.start_command(program, arguments);
  }
  Result<platform::Child> child;
  if (env_.console_columns(platform::Stream::error)) {
    auto started = env_.start_command_piping_errors(program, arguments);
    if (!started) return std::unexpected(std::move(started.error()));
    child = std::move(started->first);
    relay_ = std::jthread(
        [this, pipe = std::move(started->second)]() mutable { relay(std::move(pipe)); });
  } else {
    child = env_.start_command(program, arguments);
    if (!child) return child;
  }
  ticker_ = std::jthread([this](const std::stop_token& stop) { tick(stop); });
  return child;
}

void MinifierClock::stop() {
  if (ticker_.joinable()) {
    ticker_.request_stop();
    ticker_.join();
  }
  if (relay_.joinable()) {
    relay_.join();
  }
}

void MinifierClock::tick(const std::stop_token& stop) {
  const auto started = std::chrono::steady_clock::now();
  std::unique_lock lock(mutex_);
  for (;;) {
    // Woken early only by the stop.
    wake_.wait_for(lock, stop, tick_interval, [] { return false; });
    if (stop.stop_requested()) break;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    draw(elapsed.count());
  }
  erase();
}

void MinifierClock::relay(platform::File pipe) {
  std::array<char, 4096> buffer{};
  for (;;) {
    const Result<std::size_t> got = env_.read_some(pipe, buffer);
    if (!got || *got == 0) return;
    const std::string_view message(buffer.data(), *got);
    const std::lock_guard lock(mutex_);
    erase();
    // Nothing better can be done about a message the console refuses than
    // what the minifier itself could have done: go on.
    (void)env_.write(platform::Stream::error, message);
    line_open_ = message.back() != '\n';
  }
}

void MinifierClock::draw(double seconds) {
  if (line_open_) return;
  std::array<char, 32> number{};
  const int length = std::snprintf(number.data(), number.size(), "%.1f", seconds);
  std::string status(name_);
  status += status_middle;
  status.append(number.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
  status += status_unit;
  // Kept within one row: a line that wraps cannot be drawn over from its
  // start. Cut at a character's first byte.
  const std::size_t room = *columns_ > 1 ? *columns_ - 1 : 1;
  if (status.size() > room) {
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(status[cut]) & 0xC0) == 0x80) --cut;
    status.resize(cut);
  }
  std::string line = "\r" + status;
  if (status.size() < shown_.size()) line.append(shown_.size() - status.size(), ' ');
  // A console that refuses the status line loses only the status line.
  (void)env_.write(platform::Stream::output, line);
  shown_ = std::move(status);
}

void MinifierClock::erase() {
  if (shown_.empty()) return;
  std::string blank = "\r";
  blank.append(shown_.size(), ' ');
  blank += '\r';
  (void)env_.write(platform::Stream::output, blank);
  shown_.clear();
}

}  // namespace brelix
