#pragma once
// The second default transformer: shorter zeros, no space after commas or
// before "!important".

#include <string>
#include <string_view>

namespace css {

// True for the properties whose zeros keep their units: custom properties
// and @property's initial-value (their text may end up inside calc(), where
// a bare 0 is invalid) and flex,
// -ms-flex and flex-basis (IE 10 and 11 ignore "flex: 1 1 0"). Names are
// compared without ASCII case.
bool keeps_zero_units(std::string_view property);

// The value with, in this order: leading "0px" and "0rem" runs turned into
// one "0" and a leading run of "0." into "."; then " 0px" and " 0rem" to
// " 0", " 0." to " .", ", " to "," and " !important" to "!important"
// wherever they occur. The result is what these eight rewrites give when
// applied one after the other, each over the text the previous one left
// and none rescanning its own output; it is computed in a single scan.
//
// Nothing inside a quoted string or a comment changes. Zero units stay
// inside calc(), min(), max(), clamp() and var() (any case, vendor-prefixed
// too, and anything nested in them), and in the whole value when
// keeps_zero_units(property).
std::string shorten_numbers(std::string value, std::string_view property = {});
// True for values shorten_numbers surely gives back as they are: those
// that do not begin with a zero and hold no space after a comma or before
// a zero or a '!'.
bool numbers_left_as_is(std::string_view value);

}  // namespace css
