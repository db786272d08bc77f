#pragma once
// The first default transformer: a value that begins with a hexadecimal or
// an rgb(...) colour gets the shortest lower-case hexadecimal form.

#include <string>
#include <string_view>

namespace css {

// Rewrites the colour that begins the value, "#AABBCC" or
// "rgb(170, 187, 204)" to "#abc"; six digits shrink to three when their
// pairs match as written, every other digit count is only lower-cased. A
// trailing "!important" is kept without its space; other text after the
// colour is kept as written when white space or ',' separates it. Every
// other value comes back unchanged: colour names, "RGB(...)", "rgb (...)",
// rgba(), percentages, a component above 255, a colour followed directly by
// other text ("#FFF\9"), a colour that does not begin the value. Never
// fails.
std::string shorten_colour(std::string value);
// True for values shorten_colour surely gives back as they are: those that
// begin with nothing a colour it rewrites could begin with.
bool colour_left_as_is(std::string_view value);

}  // namespace css
