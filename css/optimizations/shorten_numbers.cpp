#include "css/optimizations/shorten_numbers.h"

#include "css/optimizations/value_scan.h"

#include <cstring>

namespace css {

namespace {

constexpr std::string_view important = "!important";

// Writes the shortened value over the value itself. Every rewrite only
// removes text, so the write position never passes the read position, and
// everything from the write position on is still the original: what is
// read (the next characters, the one before, a function name) is never
// text already written.
class InPlace {
 public:
  explicit InPlace(std::string& text) : text_(text) {}

  void put(char c) { text_[written_++] = c; }
  void put(std::string_view piece) {
    char* to = text_.data() + written_;
    if (piece.data() != to) std::memmove(to, piece.data(), piece.size());
    written_ += piece.size();
  }
  void finish() { text_.resize(written_); }

 private:
  std::string& text_;
  std::size_t written_ = 0;
};

// The text as the leading rewrites leave it: one character put in front of
// what is left of the value, or nothing.
struct Head {
  char put = '\0';
  std::size_t rest = 0;
};

// Removes every leading repetition of `unit` from put + value[rest...] and
// puts `replacement` in front, if the text begins with it at all.
void strip_leading(std::string_view value, Head& head, std::string_view unit, char replacement) {
  const auto begins_with_unit = [&] {
    const std::string_view rest = value.substr(head.rest);
    if (head.put == '\0') return rest.starts_with(unit);
    return head.put == unit[0] && rest.starts_with(unit.substr(1));
  };
  if (!begins_with_unit()) return;
  while (begins_with_unit()) {
    head.rest += head.put == '\0' ? unit.size() : unit.size() - 1;
    head.put = '\0';
  }
  head.put = replacement;
}

// The inner rewrites over one plain span. Every pattern starts with ' ' or
// ',' and holds no quote, parenthesis or comment, so spans are independent.
//
// How the five rewrites compose, which the scan reproduces: " 0px" leaves
// " 0" before whatever followed, so " 0pxrem" then meets " 0rem"; either
// leaves " 0" that " 0." can meet (" 0px.5" gives " .5"). None of them
// removes a space, a comma or anything of "!important", so ", " and
// " !important" are found where they stood in the original, and a space
// goes when a comma precedes it or "!important" follows it.
void shorten_span(std::string_view span, bool keep_units, InPlace& out) {
  std::size_t pos = 0;
  while (pos < span.size()) {
    const std::size_t space = span.find(' ', pos);
    if (space == std::string_view::npos) {
      out.put(span.substr(pos));
      return;
    }
    out.put(span.substr(pos, space - pos));
    pos = space;
    const bool after_comma = pos > 0 && span[pos - 1] == ',';
    if (!after_comma && !span.substr(pos + 1).starts_with(important)) out.put(' ');
    ++pos;
    if (pos >= span.size() || span[pos] != '0') continue;
    std::size_t end = pos + 1;
    if (!keep_units) {
      if (span.substr(end).starts_with("px")) end += 2;
      if (span.substr(end).starts_with("rem")) end += 3;
    }
    if (end < span.size() && span[end] == '.') {
      pos = end;  // the '.' is copied next, without its zero
    } else {
      out.put('0');
      pos = end;
    }
  }
}

bool needs_scan(std::string_view value) {
  // A loop, not find_first_of, which searches the set once per character.
  if (value.starts_with('0')) return true;
  for (const char c : value) {
    if (c == ' ' || c == ',') return true;
  }
  return false;
}

}  // namespace

bool keeps_zero_units(std::string_view property) {
  return property.starts_with("--") || equals_ascii_lower(property, "initial-value") ||
         equals_ascii_lower(property, "flex") || equals_ascii_lower(property, "-ms-flex") ||
         equals_ascii_lower(property, "flex-basis");
}

bool numbers_left_as_is(std::string_view value) {
  // Every rewrite begins the value with a zero or is a space after a comma
  // or before a zero or "!important".
  if (value.starts_with('0')) return false;
  for (std::size_t at = value.find(' '); at != std::string_view::npos;
       at = value.find(' ', at + 1)) {
    if (at > 0 && value[at - 1] == ',') return false;
    if (at + 1 < value.size() && (value[at + 1] == '0' || value[at + 1] == '!')) return false;
  }
  return true;
}

std::string shorten_numbers(std::string value, std::string_view property) {
  if (!needs_scan(value)) return value;
  const bool keep_property_units = keeps_zero_units(property);
  const std::string_view text = value;

  Head head;
  if (!keep_property_units) {
    strip_leading(text, head, "0px", '0');
    strip_leading(text, head, "0rem", '0');
  }
  strip_leading(text, head, "0.", '.');

  InPlace out(value);
  if (head.put != '\0') out.put(head.put);
  // The leading rewrites only remove "0px", "0rem" and "0.", all of which
  // lie in the first plain span; spans are cut against head.rest so that
  // function names are still read from the original text.
  std::size_t offset = 0;
  split_value(text, [&](std::string_view span, SpanKind kind) {
    const std::size_t span_start = offset;
    offset += span.size();
    if (offset <= head.rest) return;
    if (span_start < head.rest) span.remove_prefix(head.rest - span_start);
    if (kind == SpanKind::verbatim) {
      out.put(span);
    } else {
      shorten_span(span, keep_property_units || kind == SpanKind::guarded, out);
    }
  });
  out.finish();
  return value;
}

}  // namespace css
