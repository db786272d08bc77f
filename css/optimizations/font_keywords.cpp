#include "css/optimizations/font_keywords.h"

#include <array>
#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "css/optimizations/value_scan.h"

namespace css {

namespace {

constexpr std::string_view important = "!important";

template <std::size_t N>
bool is_one_of(std::string_view text, const std::array<std::string_view, N>& words) {
  for (std::string_view word : words) {
    if (text == word) return true;
  }
  return false;
}

// A value split into its body and a trailing "!important" together with
// the white space before it, which is kept as written.
struct Priority {
  std::string_view body;
  std::string_view suffix;
};

Priority split_priority(std::string_view value) {
  if (!value.ends_with(important)) return {value, {}};
  std::size_t end = value.size() - important.size();
  while (end > 0 && is_css_space(value[end - 1])) --end;
  return {value.substr(0, end), value.substr(end)};
}

// ---- Family names ---------------------------------------------------------

// Unquoted, these would name a generic family or mean the keyword.
constexpr std::array<std::string_view, 19> reserved_family_words{
    "serif",     "sans-serif", "monospace",     "cursive",      "fantasy",
    "system-ui", "ui-serif",   "ui-sans-serif", "ui-monospace", "ui-rounded",
    "math",      "emoji",      "fangsong",      "inherit",      "initial",
    "unset",     "revert",     "revert-layer",  "default"};

bool is_identifier(std::string_view word) {
  if (word.empty()) return false;
  std::size_t pos = 0;
  if (word[0] == '-') {
    if (word.size() == 1) return false;
    pos = 1;
  }
  const auto u = static_cast<unsigned char>(word[pos]);
  const bool starts_name = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' ||
                           u >= 0x80 || (pos == 1 && u == '-');
  if (!starts_name) return false;
  for (; pos < word.size(); ++pos) {
    if (!is_name_byte(word[pos])) return false;
  }
  return true;
}

bool reads_same_unquoted(std::string_view name) {
  if (name.empty()) return false;
  std::size_t start = 0;
  while (true) {
    const std::size_t space = name.find(' ', start);
    const std::string_view word = name.substr(
        start, space == std::string_view::npos ? std::string_view::npos : space - start);
    if (!is_identifier(word)) return false;
    for (std::string_view reserved : reserved_family_words) {
      if (equals_ascii_lower(word, reserved)) return false;
    }
    if (space == std::string_view::npos) return true;
    start = space + 1;
  }
}

// One entry of a family list, its surrounding white space kept.
void append_family(std::string_view entry, std::string& out) {
  std::size_t start = 0;
  std::size_t end = entry.size();
  while (start < end && is_css_space(entry[start])) ++start;
  while (end > start && is_css_space(entry[end - 1])) --end;
  const std::string_view name = entry.substr(start, end - start);
  const bool one_string = name.size() >= 2 && name.front() == '"' &&
                          quoted_end(name, 0) == name.size() && name.back() == '"';
  // A backslash anywhere means an escape; such names stay quoted.
  if (one_string && name.find('\\') == std::string_view::npos &&
      reads_same_unquoted(name.substr(1, name.size() - 2))) {
    out += entry.substr(0, start);
    out += name.substr(1, name.size() - 2);
    out += entry.substr(end);
    return;
  }
  out += entry;
}

// The families separated by commas outside strings and parentheses.
void append_family_list(std::string_view list, std::string& out) {
  std::size_t depth = 0;
  std::size_t entry_start = 0;
  std::size_t pos = 0;
  while (pos < list.size()) {
    const char c = list[pos];
    if (c == '"' || c == '\'') {
      pos = quoted_end(list, pos);
      continue;
    }
    if (c == '(') {
      ++depth;
    } else if (c == ')' && depth > 0) {
      --depth;
    } else if (c == ',' && depth == 0) {
      append_family(list.substr(entry_start, pos - entry_start), out);
      out += ',';
      entry_start = pos + 1;
    }
    ++pos;
  }
  append_family(list.substr(entry_start), out);
}

// ---- The shorthand --------------------------------------------------------

struct Token {
  std::size_t start;
  std::size_t end;
};

// Tokens at white space outside strings and parentheses: "calc(1em + 2px)"
// and "'Open Sans'" are one token each.
std::vector<Token> tokenize(std::string_view text) {
  std::vector<Token> tokens;
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && is_css_space(text[pos])) ++pos;
    if (pos == text.size()) break;
    const std::size_t start = pos;
    std::size_t depth = 0;
    while (pos < text.size() && (depth > 0 || !is_css_space(text[pos]))) {
      const char c = text[pos];
      if (c == '"' || c == '\'') {
        pos = quoted_end(text, pos);
        continue;
      }
      if (c == '(') ++depth;
      if (c == ')' && depth > 0) --depth;
      ++pos;
    }
    tokens.push_back({start, pos});
  }
  return tokens;
}

// Style, variant, stretch and the absolute weight keywords: what may stand
// before the size.
constexpr std::array<std::string_view, 13> before_size_keywords{
    "italic",         "oblique",        "small-caps",    "ultra-condensed", "extra-condensed",
    "condensed",      "semi-condensed", "semi-expanded", "expanded",        "extra-expanded",
    "ultra-expanded", "normal",         "bold"};
constexpr std::array<std::string_view, 2> relative_weights{"bolder", "lighter"};
constexpr std::array<std::string_view, 10> size_keywords{
    "xx-small", "x-small",  "small",     "medium", "large",
    "x-large",  "xx-large", "xxx-large", "larger", "smaller"};
constexpr std::array<std::string_view, 4> angle_units{"deg", "grad", "rad", "turn"};

// Digits with at most one '.', no sign and no unit: a numeric weight.
bool is_plain_number(std::string_view token) {
  bool digit = false;
  bool point = false;
  for (char c : token) {
    if (is_ascii_digit(c)) {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digit;
}

// The angle of "oblique 10deg".
bool is_angle(std::string_view token) {
  std::size_t pos = 0;
  if (pos < token.size() && (token[pos] == '-' || token[pos] == '+')) ++pos;
  const std::size_t digits = pos;
  while (pos < token.size() && (is_ascii_digit(token[pos]) || token[pos] == '.')) ++pos;
  return pos > digits && is_one_of(token.substr(pos), angle_units);
}

// What a font size can look like, a line height glued on ("12px/1.5")
// included: a dimension or percentage, a size keyword, or a function such
// as calc() or var().
bool is_font_size(std::string_view token) {
  const std::string_view size = token.substr(0, token.find('/'));
  if (size.empty()) return false;
  if (is_ascii_digit(size[0]) || size[0] == '.') return true;
  if (is_one_of(size, size_keywords)) return true;
  const std::size_t open = size.find('(');
  return open != std::string_view::npos && open > 0;
}

std::string rewrite_shorthand_body(std::string_view body) {
  const std::vector<Token> tokens = tokenize(body);
  const auto text_of = [&](std::size_t i) {
    return body.substr(tokens[i].start, tokens[i].end - tokens[i].start);
  };

  std::size_t size_index = 0;
  while (size_index < tokens.size()) {
    const std::string_view token = text_of(size_index);
    const bool after_oblique = size_index > 0 && text_of(size_index - 1) == "oblique";
    if (!is_one_of(token, before_size_keywords) && !is_one_of(token, relative_weights) &&
        !is_plain_number(token) && !(after_oblique && is_angle(token))) {
      break;
    }
    ++size_index;
  }
  if (size_index == tokens.size() || !is_font_size(text_of(size_index))) return std::string(body);

  std::size_t normals = 0;
  bool other_weight = false;
  for (std::size_t i = 0; i < size_index; ++i) {
    const std::string_view token = text_of(i);
    if (token == "normal") ++normals;
    if (token == "bold" || is_one_of(token, relative_weights) || is_plain_number(token))
      other_weight = true;
  }

  std::string out;
  out.reserve(body.size());
  std::size_t copied = 0;
  for (std::size_t i = 0; i < size_index; ++i) {
    const std::string_view token = text_of(i);
    const char* replacement = nullptr;
    if (token == "bold") replacement = "700";
    // "normal normal bold" names style, variant and weight; only a lone
    // normal with no weight beside it can stand for the weight.
    if (token == "normal" && normals == 1 && !other_weight) replacement = "400";
    if (replacement == nullptr) continue;
    out += body.substr(copied, tokens[i].start - copied);
    out += replacement;
    copied = tokens[i].end;
  }

  // The family list follows the size and the line height, which is glued
  // to the size ("12px/1.5"), glued to a lone slash, or a token of its own.
  const std::string_view size = text_of(size_index);
  std::size_t family_index = size_index + 1;
  if (size.ends_with('/')) {
    family_index += 1;
  } else if (size.find('/') == std::string_view::npos && family_index < tokens.size() &&
             text_of(family_index).starts_with('/')) {
    family_index += text_of(family_index) == "/" ? std::size_t{2} : std::size_t{1};
  }
  if (family_index < tokens.size()) {
    out += body.substr(copied, tokens[family_index].start - copied);
    append_family_list(body.substr(tokens[family_index].start), out);
  } else {
    out += body.substr(copied);
  }
  return out;
}

}  // namespace

std::string rewrite_font_weight(std::string value) {
  const Priority priority = split_priority(value);
  if (priority.body == "normal") return "400" + std::string(priority.suffix);
  if (priority.body == "bold") return "700" + std::string(priority.suffix);
  return value;
}

std::string rewrite_font_shorthand(std::string_view value) {
  const Priority priority = split_priority(value);
  std::string out = rewrite_shorthand_body(priority.body);
  out += priority.suffix;
  return out;
}

std::string rewrite_font_family(std::string_view value) {
  const Priority priority = split_priority(value);
  std::string out;
  out.reserve(value.size());
  append_family_list(priority.body, out);
  out += priority.suffix;
  return out;
}

void rewrite_font_keywords(DeclarationMap& declarations, Arena& arena) {
  for (Declaration& declaration : declarations) {
    // Every name below begins so; most names do not.
    if (!declaration.name.starts_with("font")) continue;
    std::string rewritten;
    if (declaration.name == "font") {
      rewritten = rewrite_font_shorthand(declaration.value);
    } else if (declaration.name == "font-weight") {
      rewritten = rewrite_font_weight(std::string(declaration.value));
    } else if (declaration.name == "font-family") {
      rewritten = rewrite_font_family(declaration.value);
    } else {
      continue;
    }
    if (rewritten != declaration.value) declaration.value = arena.store(rewritten);
  }
}

}  // namespace css
