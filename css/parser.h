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

}  // namespace css
