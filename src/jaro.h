#pragma once
// Jaro similarity, used to suggest the argument a user probably meant.

#include <string_view>

namespace brelix {

// The Jaro similarity of a and b, compared code point by code point: 1 for
// equal texts (two empty texts included), 0 when one is empty or nothing
// matches, otherwise (m/|a| + m/|b| + (m - t)/m) / 3 for m matching code
// points within the match window and t transpositions.
// Takes O(|a| * min(|b|, window)) time. Requires: both are valid UTF-8.
double jaro(std::string_view a, std::string_view b);

}  // namespace brelix
