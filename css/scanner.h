#pragma once
// The parser's view of the input: character classes, gaps, trimming and the
// scan of one piece (a selector part, a prelude, a value) to its end.

#include <array>
#include <cstddef>
#include <string_view>
#include <utility>

namespace css {

// Space, tab, line feed, carriage return: what a gap skips and what splits
// the words of @import and @namespace. Form feed is deliberately not one.
inline bool is_gap_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
inline bool is_word_break(char c) {
  return is_gap_space(c);
}

// The text without trim space (Unicode White_Space) at either end.
std::string_view trim(std::string_view text);
// The text without trim space at its end.
std::string_view trim_end(std::string_view text);

// A set of ASCII stop characters, built at compile time.
class CharSet {
 public:
  constexpr explicit CharSet(std::string_view members) {
    for (char c : members) bits_[static_cast<unsigned char>(c)] = true;
    halts_ = bits_;
    for (char c : std::string_view("\"'/()[]")) halts_[static_cast<unsigned char>(c)] = true;
  }
  constexpr bool has(char c) const { return bits_[static_cast<unsigned char>(c)]; }
  // A member, or a character a scan must look at: a quote, the slash of a
  // comment, a bracket. One look per character is what the scans cost.
  constexpr bool halts_scan(char c) const { return halts_[static_cast<unsigned char>(c)]; }

 private:
  std::array<bool, 256> bits_{};
  std::array<bool, 256> halts_{};
};

// Which brackets a piece runs over: a value runs over its stops inside
// parentheses, a selector part inside square brackets.
// parentheses_in_block runs over ';' inside parentheses, but a brace inside
// them ends the scan as the end of the text would: the modern grammar
// tries a declaration at every item of a block, and a stray '(' must not
// let each try scan the rest of the text.
// selector runs over its stops inside square brackets and parentheses
// alike ("translate(-50%,-50%)" is one piece, never two selectors), and
// like parentheses_in_block gives up at a brace inside parentheses.
enum class Nesting { none, parentheses, brackets, parentheses_in_block, selector };

// Where a browser's tokenizer stands after some text: outside anything,
// in a string, or in a comment.
enum class TokenState : char { data, double_quoted, single_quoted, comment };

struct TokenWalk {
  TokenState end = TokenState::data;
  // A string that a raw line break ended (which the tokenizer of the
  // parser, closing strings only at their quote, reads otherwise).
  bool broken_string = false;
};

// Walks text as a browser's tokenizer does, from the state start: strings
// end at their quote or at a raw line break, a backslash escapes what
// follows it, comments end at the first "*/".
TokenWalk walk_tokens(std::string_view text, TokenState start);

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  std::string_view text() const { return text_; }
  bool at(std::size_t pos, char c) const { return pos < text_.size() && text_[pos] == c; }
  bool starts_with(std::size_t pos, std::string_view literal) const {
    return text_.substr(pos).starts_with(literal);
  }

  // Skips gap space and comments. Sets saw_space when gap space was among
  // them. A "/*" without a later "*/" ends the gap.
  std::size_t skip_gap(std::size_t pos, bool* saw_space = nullptr) {
    // Inline for the common case, a piece right after the last one.
    if (pos >= text_.size() || (!is_space(text_[pos]) && text_[pos] != '/')) return pos;
    return skip_gap_from(pos, saw_space);
  }

  // From now on a form feed is gap space too, as it is white space in CSS;
  // the fixed grammar's gaps do not skip it.
  void count_form_feed_as_space() { form_feed_is_space_ = true; }

  // The end of the piece starting at pos: the first stop character outside
  // strings, comments and the given brackets, or the end of the text.
  // Quoted strings honour backslash escapes; an unterminated one runs to
  // the end of the text.
  std::size_t scan_piece(std::size_t pos, const CharSet& stops, Nesting nesting);

  // For the '(' at open: the position of its matching ')', skipping nested
  // parentheses, strings, comments and square brackets; npos when there is
  // none before the next '{' or '}' outside all of those.
  std::size_t matching_parenthesis(std::size_t open);

  // For a "/*" at open: the position just past its "*/", or npos when the
  // comment is unterminated (and so is ordinary text).
  std::size_t comment_end(std::size_t open);

  // For the '{' at open: the position of the '}' that closes it, skipping
  // nested braces, strings and comments; npos when it is never closed (an
  // unterminated comment runs to the end, as in a browser).
  std::size_t block_end(std::size_t open);

  // The first character of the set in [pos, end) outside strings and
  // comments, or end.
  std::size_t find_outside_strings(std::size_t pos, std::size_t end, const CharSet& set);

  // Past the quoted string whose quote is at open, or the end of the text.
  // Notes a raw line break inside it (see take_broken_string).
  std::size_t string_end(std::size_t open);

  // Whether a string read since the last call held a raw line break: a
  // browser ends the string there, and reads what follows otherwise.
  bool take_broken_string() { return std::exchange(broken_string_, false); }

 private:
  std::size_t skip_gap_from(std::size_t pos, bool* saw_space);
  bool is_space(char c) const { return is_gap_space(c) || (c == '\f' && form_feed_is_space_); }

  std::string_view text_;
  bool form_feed_is_space_ = false;
  bool broken_string_ = false;
  // The last search for "*/": every "/*" between the two positions closes
  // at the same place, so a run of openers is not searched again and
  // again.
  std::size_t close_search_from_ = std::string_view::npos;
  std::size_t close_found_at_ = std::string_view::npos;
};

}  // namespace css
