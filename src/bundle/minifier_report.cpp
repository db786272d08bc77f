#include "src/bundle/minifier_report.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>

namespace brelix {
namespace {

constexpr std::string_view parse_error_start = "Parse error at ";
constexpr std::string_view error_object_name = "JS_Parse_Error";
constexpr std::string_view filename_field = "filename: ";
constexpr std::string_view line_field = "line: ";
constexpr std::string_view column_field = "col: ";

std::optional<std::uint64_t> parse_number(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

// The number after a field's name at the start of the trimmed line, up to
// a comma or the end.
std::optional<std::uint64_t> field_number(std::string_view text, std::string_view name) {
  if (!text.starts_with(name)) return std::nullopt;
  text.remove_prefix(name.size());
  const std::size_t end = text.find_first_of(", }");
  return parse_number(text.substr(0, end));
}

std::string_view trim(std::string_view text) {
  const std::size_t start = text.find_first_not_of(" \t{");
  if (start == std::string_view::npos) return {};
  text.remove_prefix(start);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

bool same_path(std::string_view a, std::string_view b) {
  const auto separator = [](char c) { return c == '\\' ? '/' : c; };
  return std::ranges::equal(a, b, [&](char x, char y) { return separator(x) == separator(y); });
}

// A string as the error object prints it: in single quotes, a backslash
// before every backslash and quote.
std::string unescape_quoted(std::string_view text) {
  std::string out;
  if (text.size() < 2 || text.front() != '\'' || text.back() != '\'') return out;
  text = text.substr(1, text.size() - 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) ++i;
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace

void PositionWatcher::feed(std::string_view bytes) {
  std::size_t start = 0;
  while (true) {
    const std::size_t newline = bytes.find('\n', start);
    if (newline == std::string_view::npos) break;
    if (pending_.empty()) {
      line(bytes.substr(start, newline - start));
    } else {
      pending_.append(bytes.substr(start, newline - start));
      line(pending_);
      pending_.clear();
    }
    start = newline + 1;
  }
  pending_.append(bytes.substr(start));
}

std::vector<PositionWatcher::Position> PositionWatcher::finish() {
  if (!pending_.empty()) {
    const std::string last = std::move(pending_);
    pending_.clear();
    line(last);
  }
  return std::move(positions_);
}

bool PositionWatcher::names_release(std::string_view file) const {
  if (file.size() >= 2 && file.front() == '"' && file.back() == '"') {
    file = file.substr(1, file.size() - 2);
  }
  return same_path(file, release_path_);
}

void PositionWatcher::found(Position position) {
  if (std::ranges::find(positions_, position) == positions_.end()) {
    positions_.push_back(position);
  }
}

void PositionWatcher::line(std::string_view text) {
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  if (text.starts_with(parse_error_start)) {
    text.remove_prefix(parse_error_start.size());
    const std::size_t comma = text.rfind(',');
    const std::size_t colon = comma == std::string_view::npos ? comma : text.rfind(':', comma);
    if (colon == std::string_view::npos) return;
    const auto line = parse_number(text.substr(colon + 1, comma - colon - 1));
    const auto column = parse_number(text.substr(comma + 1));
    if (line && column && names_release(text.substr(0, colon))) {
      found({*line, *column});
    }
    return;
  }
  if (text.find(error_object_name) != std::string_view::npos) {
    in_block_ = true;
    block_file_ = false;
    block_line_.reset();
    block_column_.reset();
  }
  if (!in_block_) return;
  const std::string_view trimmed = trim(text);
  if (trimmed.starts_with(filename_field)) {
    std::string_view value = trimmed.substr(filename_field.size());
    if (value.ends_with(',')) value.remove_suffix(1);
    block_file_ = names_release(unescape_quoted(value));
  } else if (const auto number = field_number(trimmed, line_field)) {
    block_line_ = number;
  } else if (const auto column = field_number(trimmed, column_field)) {
    block_column_ = column;
  }
  if (block_file_ && block_line_ && block_column_) {
    found({*block_line_, *block_column_});
    in_block_ = false;
  } else if (trimmed.ends_with('}')) {
    in_block_ = false;
  }
}

std::string position_line(const PositionWatcher::Position& position, const SourceLines& lines) {
  const std::optional<SourceLines::Place> place = lines.locate(position.line);
  if (!place) return {};
  std::string out(position_line_start);
  out.append(std::to_string(place->line));
  out.append(position_line_column);
  out.append(std::to_string(position.column));
  out.append(position_line_of);
  out.append(place->source);
  out.push_back('\n');
  return out;
}

Result<> relay_minifier_errors(platform::File& pipe, std::string_view release_path,
                               const SourceLines& lines,
                               const std::function<void(std::string_view)>& print) {
  if (!pipe.is_open()) return {};
  PositionWatcher watcher(release_path);
  std::array<char, 16384> buffer;
  while (true) {
    const Result<std::size_t> count = pipe.read_some(buffer);
    if (!count) return std::unexpected(count.error());
    if (*count == 0) break;
    const std::string_view bytes(buffer.data(), *count);
    print(bytes);
    watcher.feed(bytes);
  }
  std::string added;
  for (const PositionWatcher::Position& position : watcher.finish()) {
    added.append(position_line(position, lines));
  }
  if (!added.empty()) print(added);
  return {};
}

}  // namespace brelix
