#include "src/jaro.h"

#include <algorithm>
#include <string>
#include <vector>

#include "unicode/utf8.h"

namespace brelix {
namespace {

std::u32string code_points(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    out.push_back(unicode::decode_next(text, pos));
  }
  return out;
}

}  // namespace

double jaro(std::string_view a_text, std::string_view b_text) {
  const std::u32string a = code_points(a_text);
  const std::u32string b = code_points(b_text);
  if (a.empty() && b.empty()) {
    return 1.0;
  }
  if (a.empty() || b.empty()) {
    return 0.0;
  }
  const std::size_t longer = std::max(a.size(), b.size());
  const std::size_t window = longer / 2 == 0 ? 0 : longer / 2 - 1;

  std::vector<bool> a_matched(a.size(), false);
  std::vector<bool> b_matched(b.size(), false);
  std::size_t matches = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::size_t from = i > window ? i - window : 0;
    // The window is clamped to b, so a very long a against a short b stays
    // linear in |a|.
    const std::size_t to = std::min(b.size(), i + window + 1);
    for (std::size_t j = from; j < to; ++j) {
      if (!b_matched[j] && a[i] == b[j]) {
        a_matched[i] = true;
        b_matched[j] = true;
        ++matches;
        break;
      }
    }
  }
  if (matches == 0) {
    return 0.0;
  }

  // Matched code points taken in order from both texts; every position
  // where they differ is half a transposition.
  std::size_t out_of_order = 0;
  std::size_t j = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!a_matched[i]) {
      continue;
    }
    while (!b_matched[j]) {
      ++j;
    }
    if (a[i] != b[j]) {
      ++out_of_order;
    }
    ++j;
  }
  const double m = static_cast<double>(matches);
  const double t = static_cast<double>(out_of_order) / 2.0;
  return (m / static_cast<double>(a.size()) + m / static_cast<double>(b.size()) + (m - t) / m) /
         3.0;
}

}  // namespace brelix
