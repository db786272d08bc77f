#include "src/bundle/source_lines.h"

#include <algorithm>

#include "src/bundle/build_steps.h"

namespace brelix {

void SourceLines::add(std::string_view written, std::string_view bytes) {
  written_.push_back(written);
  first_.push_back(next_line_);
  next_line_ += static_cast<std::uint64_t>(std::ranges::count(bytes, '\n'));
  if (needs_line_feed(bytes)) ++next_line_;
}

std::optional<SourceLines::Place> SourceLines::locate(std::uint64_t line) const {
  if (line == 0 || line >= next_line_) return std::nullopt;
  // The last source starting on or before the line: an empty source
  // starts where the next one does and holds no line.
  const auto after = std::ranges::upper_bound(first_, line);
  const auto index = static_cast<std::size_t>(after - first_.begin()) - 1;
  return Place{written_[index], line - first_[index] + 1, index};
}

}  // namespace brelix
