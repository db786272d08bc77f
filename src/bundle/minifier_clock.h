#pragma once
// A clock on the minifier's long work: while it runs and standard output is
// a console, one status line with the bundle's name and the seconds so far,
// drawn over itself about five times a second and erased before anything
// else is printed, so that a slow minifier can be told from a hung one. A
// redirected run gets none of it and starts the minifier exactly as before.
//
// The minifier shares the console; its messages must not run into the
// status line. Its standard error comes through a pipe and is put on the
// console by print: the status line is erased first, and not drawn again
// until the message has ended its line.

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

#include "src/platform/env.h"

namespace brelix {

// The status line: the bundle's name, this, the seconds with one decimal
// and status_unit.
inline constexpr std::string_view status_middle = ": Minifying, ";
inline constexpr std::string_view status_unit = " s";

class MinifierClock {
 public:
  // Requires: env and name outlive the clock.
  MinifierClock(platform::Env& env, std::string_view name);
  // Stops as stop() does.
  ~MinifierClock();
  MinifierClock(const MinifierClock&) = delete;
  MinifierClock& operator=(const MinifierClock&) = delete;

  // Starts the clock when standard output is a console. Call once, when
  // the minifier has started.
  void start();

  // Writes what the minifier printed on its standard error to the
  // program's, erasing the status line first. Any thread.
  void print(std::string_view message);

  // Erases the status line. Call when the minifier has ended, before the
  // next progress line.
  void stop();

 private:
  void tick(const std::stop_token& stop);
  // Require: mutex_ held.
  void draw(double seconds);
  void erase();

  platform::Env& env_;
  std::string_view name_;
  std::optional<std::size_t> columns_;
  std::mutex mutex_;
  std::condition_variable_any wake_;
  // What the status line shows now; empty when it is not on the console.
  std::string shown_;
  // A relayed message has not ended its line yet.
  bool line_open_ = false;
  std::jthread ticker_;
};

}  // namespace brelix
