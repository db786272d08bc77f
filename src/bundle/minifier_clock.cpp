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

void MinifierClock::start() {
  if (!columns_) return;
  ticker_ = std::jthread([this](const std::stop_token& stop) { tick(stop); });
}

void MinifierClock::stop() {
  if (ticker_.joinable()) {
    ticker_.request_stop();
    ticker_.join();
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

void MinifierClock::print(std::string_view message) {
  if (message.empty()) return;
  const std::lock_guard lock(mutex_);
  erase();
  // Nothing better can be done about a message the console refuses than
  // what the minifier itself could have done: go on.
  (void)env_.write(platform::Stream::error, message);
  line_open_ = message.back() != '\n';
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
