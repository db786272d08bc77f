#include "css/at_rules.h"

#include <algorithm>

#include "css/ascii.h"

namespace css {

namespace {

constexpr std::string_view::size_type npos = std::string_view::npos;

bool is_name_char(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || byte >= 0x80;
}

// Sorted, for a binary search.
constexpr std::string_view parsed_names[]{
    "-moz-document",
    "-moz-keyframes",
    "-ms-keyframes",
    "-o-keyframes",
    "annotation",
    "bottom-center",
    "bottom-left",
    "bottom-left-corner",
    "bottom-right",
    "bottom-right-corner",
    "character-variant",
    "container",
    "counter-style",
    "document",
    "font-feature-values",
    "font-palette-values",
    "historical-forms",
    "layer",
    "left-bottom",
    "left-middle",
    "left-top",
    "ornaments",
    "page",
    "position-try",
    "property",
    "right-bottom",
    "right-middle",
    "right-top",
    "scope",
    "starting-style",
    "styleset",
    "stylistic",
    "swash",
    "top-center",
    "top-left",
    "top-left-corner",
    "top-right",
    "top-right-corner",
    "view-transition",
};

static_assert(std::ranges::is_sorted(parsed_names));

// The at-rules of the fixed grammar, page excepted.
constexpr std::string_view fixed_names[]{
    "-ms-viewport", "-webkit-keyframes", "font-face", "import",   "keyframes",
    "media",        "namespace",         "supports",  "viewport",
};

static_assert(std::ranges::is_sorted(fixed_names));

}  // namespace

std::size_t at_keyword_end(std::string_view text, std::size_t at) {
  std::size_t pos = at + 1;
  while (pos < text.size()) {
    if (text[pos] == '\\' && pos + 1 < text.size()) {
      pos += 2;
    } else if (is_name_char(text[pos])) {
      ++pos;
    } else {
      break;
    }
  }
  return pos;
}

bool is_parsed_at_rule(std::string_view name) {
  return std::ranges::binary_search(parsed_names, name);
}

bool is_fixed_at_rule(std::string_view name) {
  return std::ranges::binary_search(fixed_names, name);
}

std::string collapse_space(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  // Once one "/*" has no "*/" after it, no later one has: searching again
  // for each would make a run of openers quadratic.
  bool closers_left = true;
  const auto comment_end = [&](std::size_t open) {
    if (!closers_left) return npos;
    const std::size_t close = text.find("*/", open + 2);
    if (close == npos) closers_left = false;
    return close == npos ? npos : close + 2;
  };
  const auto separator = [](char c) { return c == '{' || c == '}' || c == ';'; };
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '"' || c == '\'') {
      const std::size_t start = pos;
      pos = quoted_end(text, start);
      out.append(text.substr(start, pos - start));
      continue;
    }
    const bool comment =
        c == '/' && pos + 1 < text.size() && text[pos + 1] == '*' && comment_end(pos) != npos;
    // A backslash outside a string is copied as any other character:
    // the parser's scan does the same, and the two must agree on where
    // strings and comments are.
    if (!is_css_space(c) && !comment) {
      out += c;
      ++pos;
      continue;
    }
    const std::size_t start = pos;
    bool spaced = false;
    while (pos < text.size()) {
      if (is_css_space(text[pos])) {
        spaced = true;
        ++pos;
      } else if (text[pos] == '/' && pos + 1 < text.size() && text[pos + 1] == '*' &&
                 comment_end(pos) != npos) {
        pos = comment_end(pos);
      } else {
        break;
      }
    }
    if (out.empty() || pos == text.size() || separator(out.back()) || separator(text[pos]))
      continue;
    if (spaced) {
      out += ' ';
    } else {
      out.append(text.substr(start, pos - start));
    }
  }
  return out;
}

}  // namespace css
