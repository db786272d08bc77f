#pragma once
// Where each source lies in a concatenation, by lines: the table that
// turns a line of the concatenated text back into a source and its line.
// The concatenation only shifts whole lines (a source that does not end
// with a line feed gets one), so a column stays the same.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace brelix {

class SourceLines {
 public:
  struct Place {
    std::string_view source;  // as written in the bundle's list
    std::uint64_t line = 0;   // 1-based, within the source
    std::size_t index = 0;    // of the source, in the list's order
  };

  // Appends the next source of the concatenation, as written (the view
  // must outlive the table) and its bytes, with the line feed that
  // needs_line_feed says follows them.
  void add(std::string_view written, std::string_view bytes);

  // The source and line that line (1-based) of the concatenation comes
  // from; nullopt for a line after the last source (the importer snippet)
  // or line 0.
  std::optional<Place> locate(std::uint64_t line) const;

  // Lines of the concatenation so far.
  std::uint64_t lines() const { return next_line_ - 1; }

  std::size_t size() const { return written_.size(); }
  std::string_view written(std::size_t index) const { return written_[index]; }
  // The concatenation's line (1-based) that source index starts on.
  std::uint64_t first_line(std::size_t index) const { return first_[index]; }

 private:
  std::vector<std::string_view> written_;
  std::vector<std::uint64_t> first_;
  std::uint64_t next_line_ = 1;
};

}  // namespace brelix
