#include "css/scanner.h"

#include <algorithm>

#include "css/ascii.h"
#include "unicode/properties.h"
#include "unicode/utf8.h"

namespace css {

namespace {

constexpr std::size_t npos = std::string_view::npos;

bool is_continuation_byte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The ASCII characters with the White_Space property: tab to carriage
// return, and space. Every other one is above 0x7F.
bool is_ascii_white_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// The length of the trim space that begins the text.
std::size_t leading_space(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && is_ascii_white_space(text[pos])) ++pos;
  while (pos < text.size()) {
    std::size_t next = pos;
    if (!unicode::is_white_space(unicode::decode_next(text, next))) break;
    pos = next;
  }
  return pos;
}

bool is_line_break(char c) {
  return c == '\n' || c == '\r' || c == '\f';
}

}  // namespace

std::string_view trim_end(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && is_ascii_white_space(text[end - 1])) --end;
  // Only a byte above 0x7F can end a character with the property.
  if (end == 0 || static_cast<unsigned char>(text[end - 1]) < 0x80) return text.substr(0, end);
  while (end > 0) {
    // Step back to the lead byte of the last character; a stray
    // continuation byte decodes to U+FFFD and so stops the trim.
    std::size_t start = end - 1;
    while (start > 0 && end - start < 4 && is_continuation_byte(text[start])) --start;
    std::size_t next = start;
    const char32_t c = unicode::decode_next(text, next);
    if (next != end || !unicode::is_white_space(c)) break;
    end = start;
  }
  return text.substr(0, end);
}

std::string_view trim(std::string_view text) {
  // Nearly every piece starts and ends with a printable ASCII character,
  // which no decoding needs to confirm.
  const auto plain = [](char c) { return c > ' ' && c < 0x7F; };
  if (!text.empty() && plain(text.front()) && plain(text.back())) return text;
  return trim_end(text.substr(leading_space(text)));
}

std::size_t Scanner::comment_end(std::size_t open) {
  const std::size_t from = open + 2;
  const bool cached = close_search_from_ != npos && from >= close_search_from_ &&
                      (close_found_at_ == npos || from <= close_found_at_);
  if (!cached) {
    close_search_from_ = from;
    close_found_at_ = text_.find("*/", std::min(from, text_.size()));
  }
  return close_found_at_ == npos ? npos : close_found_at_ + 2;
}

std::size_t Scanner::skip_gap_from(std::size_t pos, bool* saw_space) {
  while (pos < text_.size()) {
    if (is_space(text_[pos])) {
      ++pos;
      if (saw_space != nullptr) *saw_space = true;
      continue;
    }
    if (!starts_with(pos, "/*")) break;
    const std::size_t end = comment_end(pos);
    if (end == npos) break;
    pos = end;
  }
  return pos;
}

std::size_t Scanner::string_end(std::size_t open) {
  const std::size_t end = quoted_end(text_, open);
  if (!broken_string_) {
    const std::string_view string = text_.substr(open, end - open);
    broken_string_ = string.find_first_of("\n\r\f") != std::string_view::npos;
  }
  return end;
}

TokenWalk walk_tokens(std::string_view text, TokenState start) {
  TokenWalk walk{start, false};
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '\\' && walk.end != TokenState::comment) {
      // An escape takes the next character, "\r\n" counting as one.
      pos += text.substr(pos + 1).starts_with("\r\n") ? 3u : 2u;
      continue;
    }
    switch (walk.end) {
      case TokenState::data:
        if (c == '"') walk.end = TokenState::double_quoted;
        if (c == '\'') walk.end = TokenState::single_quoted;
        if (c == '/' && text.substr(pos).starts_with("/*")) {
          walk.end = TokenState::comment;
          ++pos;
        }
        break;
      case TokenState::double_quoted:
      case TokenState::single_quoted:
        if (c == (walk.end == TokenState::double_quoted ? '"' : '\'')) {
          walk.end = TokenState::data;
        } else if (is_line_break(c)) {
          walk.end = TokenState::data;
          walk.broken_string = true;
        }
        break;
      case TokenState::comment:
        if (c == '*' && text.substr(pos).starts_with("*/")) {
          walk.end = TokenState::data;
          ++pos;
        }
        break;
    }
    ++pos;
  }
  return walk;
}

std::size_t Scanner::scan_piece(std::size_t pos, const CharSet& stops, Nesting nesting) {
  const bool parentheses =
      nesting == Nesting::parentheses || nesting == Nesting::parentheses_in_block;
  const char open = parentheses ? '(' : '[';
  const char close = parentheses ? ')' : ']';
  const char* const data = text_.data();
  const std::size_t size = text_.size();
  std::size_t depth = 0;
  // Nesting::selector counts its parentheses here and its brackets in depth.
  std::size_t parentheses_open = 0;
  while (pos < size) {
    // Everything else is passed over in a tight loop, four at a time.
    while (pos + 4 <= size && !stops.halts_scan(data[pos]) && !stops.halts_scan(data[pos + 1]) &&
           !stops.halts_scan(data[pos + 2]) && !stops.halts_scan(data[pos + 3])) {
      pos += 4;
    }
    while (pos < size && !stops.halts_scan(data[pos])) ++pos;
    if (pos == size) break;
    const char c = data[pos];
    if (depth == 0 && parentheses_open == 0 && stops.has(c)) return pos;
    if ((nesting == Nesting::parentheses_in_block || parentheses_open > 0) &&
        (c == '{' || c == '}'))
      return text_.size();
    if (c == '"' || c == '\'') {
      pos = string_end(pos);
      continue;
    }
    if (c == '/' && starts_with(pos, "/*")) {
      const std::size_t end = comment_end(pos);
      if (end != npos) {
        pos = end;
        continue;
      }
    }
    if (nesting == Nesting::selector && (c == '(' || c == ')')) {
      if (c == '(') {
        ++parentheses_open;
      } else if (parentheses_open > 0) {
        --parentheses_open;
      }
    } else if (nesting != Nesting::none) {
      if (c == open) {
        ++depth;
      } else if (c == close && depth > 0) {
        // A stray closer is plain text; it does not open the way to
        // stops inside a later pair.
        --depth;
      }
    }
    ++pos;
  }
  return text_.size();
}

std::size_t Scanner::matching_parenthesis(std::size_t open) {
  std::size_t depth = 1;
  // Square brackets hold attribute selectors, whose unquoted text is
  // opaque to every other selector piece too, so it is to this scan.
  std::size_t brackets = 0;
  std::size_t pos = open + 1;
  while (pos < text_.size()) {
    const char c = text_[pos];
    if (c == '"' || c == '\'') {
      pos = string_end(pos);
      continue;
    }
    if (c == '/' && starts_with(pos, "/*")) {
      const std::size_t end = comment_end(pos);
      if (end != npos) {
        pos = end;
        continue;
      }
    }
    if (c == '[') {
      ++brackets;
    } else if (c == ']' && brackets > 0) {
      --brackets;
    } else if (brackets == 0) {
      // No selector argument holds a brace outside a string. Stopping
      // there keeps an unclosed "(" from scanning the declarations.
      if (c == '{' || c == '}') return npos;
      if (c == '(') ++depth;
      if (c == ')' && --depth == 0) return pos;
    }
    ++pos;
  }
  return npos;
}

std::size_t Scanner::block_end(std::size_t open) {
  static constexpr CharSet specials{"\"'/{}"};
  std::size_t depth = 0;
  std::size_t pos = open;
  while (pos < text_.size()) {
    const char c = text_[pos];
    if (!specials.has(c)) {
      ++pos;
      continue;
    }
    if (c == '"' || c == '\'') {
      pos = string_end(pos);
      continue;
    }
    if (c == '/' && starts_with(pos, "/*")) {
      const std::size_t end = comment_end(pos);
      if (end == npos) return npos;
      pos = end;
      continue;
    }
    if (c == '{') ++depth;
    if (c == '}' && --depth == 0) return pos;
    ++pos;
  }
  return npos;
}

std::size_t Scanner::find_outside_strings(std::size_t pos, std::size_t end, const CharSet& set) {
  while (pos < end) {
    const char c = text_[pos];
    if (set.has(c)) return pos;
    if (c == '"' || c == '\'') {
      pos = string_end(pos);
      continue;
    }
    if (c == '/' && starts_with(pos, "/*")) {
      const std::size_t close = comment_end(pos);
      if (close != npos) {
        pos = close;
        continue;
      }
    }
    ++pos;
  }
  return end;
}

}  // namespace css
