#include "unicode/case.h"

#include <algorithm>

#include "unicode/unicode_tables.h"
#include "unicode/utf8.h"

namespace unicode {
namespace {

constexpr char32_t capital_sigma = U'\u03A3';
constexpr char32_t small_sigma = U'\u03C3';
constexpr char32_t final_sigma = U'\u03C2';

bool is_cased(char32_t c) {
  return tables::contains(tables::cased, c);
}
bool is_case_ignorable(char32_t c) {
  return tables::contains(tables::case_ignorable, c);
}

// Decodes at pos like decode_next, but reports ill-formed bytes instead of
// turning them into U+FFFD, so they can be copied through as they are.
bool decode_well_formed(std::string_view text, std::size_t& pos, char32_t& c) {
  const std::size_t start = pos;
  c = decode_next(text, pos);
  return c != replacement_character || text.substr(start, pos - start) == "\xEF\xBF\xBD";
}

void append_simple_or_special_lower(std::string& out, char32_t c) {
  const auto& special = tables::special_lower;
  const auto found = std::lower_bound(
      special.begin(), special.end(), c,
      [](const tables::SpecialLower& s, char32_t value) { return s.from < value; });
  if (found != special.end() && found->from == c) {
    for (char32_t to : found->to) {
      if (to != 0) append_utf8(out, to);
    }
    return;
  }
  const auto& runs = tables::lower_runs;
  const auto after =
      std::upper_bound(runs.begin(), runs.end(), c,
                       [](char32_t value, const tables::LowerRun& r) { return value < r.first; });
  if (after != runs.begin()) {
    const tables::LowerRun& run = *std::prev(after);
    if (c <= run.last && (c - run.first) % run.stride == 0) {
      c = static_cast<char32_t>(static_cast<std::int32_t>(c) + run.delta);
    }
  }
  append_utf8(out, c);
}

// The second half of the final-sigma condition: no cased letter follows,
// looking past case-ignorable characters. A character that is both cased
// and case-ignorable counts as cased. The characters skipped here are all
// case-ignorable and not cased, so no later sigma's look-ahead covers them
// again: the scan stays linear.
bool followed_by_cased(std::string_view text, std::size_t pos) {
  while (pos < text.size()) {
    char32_t c;
    if (!decode_well_formed(text, pos, c)) return false;
    if (is_cased(c)) return true;
    if (!is_case_ignorable(c)) return false;
  }
  return false;
}

}  // namespace

std::string to_lower(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  // The first half of the final-sigma condition, kept as we go: the text
  // so far ends in a cased letter followed by zero or more
  // case-ignorable characters.
  bool after_cased = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t ascii = ascii_run_length(text, pos);
    if (ascii != 0) {
      for (std::size_t i = pos; i < pos + ascii; ++i) {
        const char ch = text[i];
        out.push_back(ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch);
      }
      // An ASCII run sets the state by its last character: letters
      // are cased; of the rest only ' . : ^ ` are case-ignorable and
      // they keep the state.
      for (std::size_t i = pos + ascii; i > pos; --i) {
        const auto ch = static_cast<unsigned char>(text[i - 1]);
        if (is_cased(ch)) {
          after_cased = true;
          break;
        }
        if (!is_case_ignorable(ch)) {
          after_cased = false;
          break;
        }
      }
      pos += ascii;
      continue;
    }

    const std::size_t start = pos;
    char32_t c;
    if (!decode_well_formed(text, pos, c)) {
      out.append(text.substr(start, pos - start));
      after_cased = false;
      continue;
    }
    if (c == capital_sigma) {
      append_utf8(out, after_cased && !followed_by_cased(text, pos) ? final_sigma : small_sigma);
    } else {
      append_simple_or_special_lower(out, c);
    }
    if (is_cased(c)) {
      after_cased = true;
    } else if (!is_case_ignorable(c)) {
      after_cased = false;
    }
  }
  return out;
}

}  // namespace unicode
