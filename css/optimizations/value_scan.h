#pragma once
// What the value rewrites must leave alone. Declaration values are plain
// text in the model, but a quoted string is content ("a, b", "version 0.5")
// and a zero inside calc() or var() needs its unit: calc(100% - 0) is
// invalid. split_value cuts a value into spans, left to right, so that each
// rewrite runs over the plain spans only and copies the others.

#include <cstddef>
#include <string_view>

#include "css/ascii.h"
#include "css/scanner.h"

namespace css {

enum class SpanKind {
  // A quoted string (quotes included) or a terminated comment: copied.
  verbatim,
  // Ordinary value text.
  plain,
  // Value text inside calc(), min(), max(), clamp() or var() (any case,
  // vendor prefixes too), at any depth: zero units stay.
  guarded,
};

// True for calc, min, max, clamp and var in any ASCII case, also behind a
// vendor prefix such as "-webkit-".
bool is_guarded_function(std::string_view name);

// True when ASCII letters, digits, '-', '_' or a byte from 0x80 up.
inline bool is_name_byte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-' ||
         u == '_' || u >= 0x80;
}

// The bytes split_value looks at; it passes over every other one with a
// single table lookup.
inline constexpr CharSet value_scan_stops{"\"'/()"};

// Calls sink(span, kind) for consecutive spans that together make up the
// value, in order. Nothing before the end of a span is read once the span
// has gone to the sink, so a sink may write its result over text already
// passed. Plain and guarded spans never contain a quote or a
// terminated comment, and every parenthesis starts or ends a span, so a
// pattern made of other characters never crosses a span boundary.
template <typename Sink>
void split_value(std::string_view value, Sink&& sink) {
  constexpr std::size_t npos = std::string_view::npos;
  std::size_t depth = 0;
  std::size_t guarded_at = 0;  // the depth whose '(' opened the guard; 0 when none
  std::size_t span_start = 0;
  // Where the last search for "*/" looked and what it found: a run of
  // "/*" that never closes must not search to the end once per opener.
  std::size_t close_searched_from = npos;
  std::size_t close_found = npos;

  const auto flush = [&](std::size_t end) {
    if (end > span_start) {
      sink(value.substr(span_start, end - span_start),
           guarded_at != 0 ? SpanKind::guarded : SpanKind::plain);
    }
    span_start = end;
  };

  std::size_t pos = 0;
  while (pos < value.size()) {
    const char c = value[pos];
    if (!value_scan_stops.has(c)) {
      ++pos;
      continue;
    }
    if (c == '"' || c == '\'') {
      flush(pos);
      const std::size_t end = quoted_end(value, pos);
      sink(value.substr(pos, end - pos), SpanKind::verbatim);
      pos = span_start = end;
      continue;
    }
    if (c == '/' && pos + 1 < value.size() && value[pos + 1] == '*') {
      if (close_searched_from == npos || pos + 2 < close_searched_from ||
          (close_found != npos && pos + 2 > close_found)) {
        close_searched_from = pos + 2;
        close_found = value.find("*/", pos + 2);
      }
      // An unterminated "/*" is ordinary text, as for the parser.
      if (close_found != npos) {
        flush(pos);
        const std::size_t end = close_found + 2;
        sink(value.substr(pos, end - pos), SpanKind::verbatim);
        pos = span_start = end;
        continue;
      }
    }
    if (c == '(') {
      // Every byte before '(' since the last non-name byte is the
      // function name; a byte is walked back over at most once, since
      // the '(' itself stops the next walk.
      std::size_t name_start = pos;
      while (name_start > span_start && is_name_byte(value[name_start - 1])) --name_start;
      // Read before the span goes to the sink: a sink may write over
      // the text it has been given (shorten_numbers does).
      const bool guarded = is_guarded_function(value.substr(name_start, pos - name_start));
      flush(pos + 1);
      ++depth;
      if (guarded_at == 0 && guarded) guarded_at = depth;
    } else if (c == ')') {
      flush(pos);
      if (depth > 0) {
        if (depth == guarded_at) guarded_at = 0;
        --depth;
      }
    }
    ++pos;
  }
  flush(value.size());
}

}  // namespace css
