#include "css/optimizations/shorten_colour.h"

#include <string_view>

#include "css/ascii.h"
#include "css/scanner.h"
#include "unicode/properties.h"
#include "unicode/utf8.h"

namespace css {

namespace {

constexpr std::string_view important = "!important";
constexpr std::size_t no_colour = std::string_view::npos;

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "#" and its digits, with the six-digit pairs rule, in lower case.
std::string short_hex(std::string_view hex) {
  if (hex.size() == 7 && hex[1] == hex[2] && hex[3] == hex[4] && hex[5] == hex[6]) {
    return {'#', ascii_lower(hex[1]), ascii_lower(hex[3]), ascii_lower(hex[5])};
  }
  std::string out(hex);
  for (char& c : out) c = ascii_lower(c);
  return out;
}

// The gap of the parser: spaces, tabs, line feeds, carriage returns and
// terminated comments.
std::size_t skip_gap(std::string_view text, std::size_t pos) {
  while (pos < text.size()) {
    if (is_gap_space(text[pos])) {
      ++pos;
    } else if (text.substr(pos).starts_with("/*")) {
      const std::size_t close = text.find("*/", pos + 2);
      if (close == std::string_view::npos) break;
      pos = close + 2;
    } else {
      break;
    }
  }
  return pos;
}

// Reads "rgb(r, g, b)" from the start of the value. Returns the position
// after ')' and sets hex to "#RRGGBB", or no_colour.
std::size_t read_rgb(std::string_view value, std::string& hex) {
  std::size_t pos = skip_gap(value, 0);
  // Only "rgb(" with nothing between is a function: "rgb (1,2,3)" is a
  // name and a parenthesis, which no colour property accepts.
  if (!value.substr(pos).starts_with("rgb(")) return no_colour;
  pos += 4;
  static constexpr char digits[] = "0123456789ABCDEF";
  hex = "#";
  for (int component = 0; component < 3; ++component) {
    if (component > 0) {
      if (pos >= value.size() || value[pos] != ',') return no_colour;
      ++pos;
    }
    pos = skip_gap(value, pos);
    const std::size_t start = pos;
    unsigned number = 0;
    while (pos < value.size() && is_ascii_digit(value[pos])) {
      // Capped so that a long run of digits cannot overflow.
      number = number * 10 + static_cast<unsigned>(value[pos] - '0');
      if (number > 255) return no_colour;
      ++pos;
    }
    if (pos == start) return no_colour;
    pos = skip_gap(value, pos);
    hex += digits[number / 16];
    hex += digits[number % 16];
  }
  if (pos >= value.size() || value[pos] != ')') return no_colour;
  return pos + 1;
}

bool starts_with_white_space(std::string_view text) {
  std::size_t pos = 0;
  return !text.empty() && unicode::is_white_space(unicode::decode_next(text, pos));
}

}  // namespace

bool colour_left_as_is(std::string_view value) {
  return value.empty() ||
         (value[0] != '#' && value[0] != 'r' && !is_gap_space(value[0]) && value[0] != '/');
}

std::string shorten_colour(std::string value) {
  const std::string_view text = value;
  std::string hex;
  std::size_t end = no_colour;
  if (text.size() > 1 && text[0] == '#' && is_hex_digit(text[1])) {
    end = 1;
    while (end < text.size() && is_hex_digit(text[end])) ++end;
    hex = text.substr(0, end);
  } else if (!text.empty() && (text[0] == 'r' || is_gap_space(text[0]) || text[0] == '/')) {
    end = read_rgb(text, hex);
  }
  if (end == no_colour) return value;

  const std::string_view rest = text.substr(end);
  const std::string_view trimmed = trim(rest);
  std::string out = short_hex(hex);
  if (trimmed.empty()) return out;
  if (trimmed == important) return out += important;
  // "#FFFFFF url(x.png) no-repeat": the colour is one token of a longer
  // value. Text glued to the colour ("#FFF\9", "#FFFz") is a hack or a
  // typo; rewriting its head could change what it means.
  if (starts_with_white_space(rest) || rest.front() == ',') return out += rest;
  return value;
}

}  // namespace css
