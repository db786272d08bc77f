#pragma once
// The minifier's standard error, passed on byte for byte, with one line of
// brelix's own after it for each position it names in the release working
// file: which source, as written in the bundle's list, and which line and
// column of it that is. The working file is gone when the run ends, so its
// line numbers alone would tell the user nothing.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/bundle/source_lines.h"
#include "src/failure.h"
#include "src/platform/env.h"

namespace brelix {

// "brelix: that is line 8, column 4 of app/util/Dom.js" and a line feed;
// the column counts as the minifier's does (from 0), and is the same in the
// source as in the concatenation.
inline constexpr std::string_view position_line_start = "brelix: that is line ";
inline constexpr std::string_view position_line_column = ", column ";
inline constexpr std::string_view position_line_of = " of ";

// Finds the positions the minifier reports in its standard error: a line
// "Parse error at FILE:LINE,COL", and the filename, line and col fields
// of an error object it prints (a block that names JS_Parse_Error), where
// FILE is the release working file (as given to it, or in double quotes,
// "\" and "/" alike, backslashes doubled in the object's string).
class PositionWatcher {
 public:
  struct Position {
    std::uint64_t line = 0;  // 1-based
    std::uint64_t column = 0;
    bool operator==(const Position&) const = default;
  };

  explicit PositionWatcher(std::string_view release_path) : release_path_(release_path) {}

  // The next bytes of the stream, in any pieces.
  void feed(std::string_view bytes);
  // After the stream's last bytes: the positions found, each once, in the
  // order first reported.
  std::vector<Position> finish();

 private:
  void line(std::string_view text);
  bool names_release(std::string_view file) const;
  void found(Position position);

  std::string release_path_;
  std::string pending_;
  std::vector<Position> positions_;
  bool in_block_ = false;
  bool block_file_ = false;
  std::optional<std::uint64_t> block_line_;
  std::optional<std::uint64_t> block_column_;
};

// brelix's line for a position, or an empty text when it lies outside
// every source (in the importer snippet).
std::string position_line(const PositionWatcher::Position& position, const SourceLines& lines);

// Reads the minifier's standard error from pipe to its end, handing every
// byte to print as it comes, then the lines for the positions found. print
// puts them on the program's standard error; a write there that fails is
// not the build's failure (the child's own would not have been either), so
// the pipe is still read to its end and the minifier never left waiting. A
// failed read is a failure. A pipe that is not open has nothing to read.
Result<> relay_minifier_errors(platform::File& pipe, std::string_view release_path,
                               const SourceLines& lines,
                               const std::function<void(std::string_view)>& print);

}  // namespace brelix
