#pragma once
// Style-sheet text to model: a backtracking recursive-descent parser over a
// small fixed grammar, with no error recovery.

#include <concepts>
#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include "css/model.h"

namespace css {

// Where the parse stopped: the byte offset of the unparsed remainder. That
// is the first character of the top-level item that did not fit (after its
// leading white space and comments), or the "/*" of an unterminated comment.
struct ParseFailure {
  std::size_t offset = 0;

  bool operator==(const ParseFailure&) const = default;
};

// How many blocks that hold rules (@media, @supports, other at-rules, style
// rules with nested rules) may be open at once. Deeper input is
// an ordinary failure of its top-level item, so the recursion of the parser,
// the writer and the passes never goes further than this.
inline constexpr std::size_t max_nesting_depth = 256;

// Parses the whole text or fails; no partial sheet is returned. Quoted
// strings and comments inside a piece never end it; values also run over
// ';' and '}' inside parentheses, selector parts over ',', '{' and ':'
// inside brackets, and a pseudo-class argument runs to its matching ')'.
// Any bytes are accepted; the model keeps them as they are.
//
// A sheet the fixed grammar rejects is read again as modern CSS: nested
// rules, at-rules of any name and letter case, empty custom properties.
// Every sheet the fixed grammar accepts keeps its reading. When both fail,
// the failure is the later of the two offsets.
std::expected<Stylesheet, ParseFailure> parse_stylesheet(std::string_view text);
// The model points into the text (see model.h), so a temporary string,
// gone before the model is read, cannot be parsed.
template <typename Text>
  requires(std::same_as<Text, std::string>)
std::expected<Stylesheet, ParseFailure> parse_stylesheet(Text&& text) = delete;

// What read_stylesheet hands its top-level items to, one at a time.
class SheetVisitor {
 public:
  virtual ~SheetVisitor() = default;
  // The next top-level item. Its rewritten texts are in the arena given to
  // read_stylesheet, its other texts in the text being read.
  virtual void item(Item&& item) = 0;
  // The items that follow may be read again: the fixed grammar took the
  // next one, but the modern grammar might read it otherwise. Called at
  // most once.
  virtual void checkpoint() = 0;
  // Forget every item since the checkpoint: the fixed grammar failed
  // further on, so they are read again with the modern grammar.
  virtual void rewind() = 0;
  // The text before this offset will not be read again. Offsets only grow.
  virtual void read_past(std::size_t /*offset*/) {}
};

// parse_stylesheet for a caller that handles each top-level item as it
// comes and lets it go, so that no more than one is held at once. The
// items, once the rewinds are taken into account, are those parse_stylesheet
// lists, and the failure is the same. A sheet is read once where the
// modern grammar would read its first items as the fixed one does: the
// switch happens at the item the fixed grammar fails on, and only an item
// that the two grammars might read differently makes the reader go back.
std::expected<void, ParseFailure> read_stylesheet(std::string_view text, Arena& arena,
                                                  SheetVisitor& visitor);

}  // namespace css
