#pragma once
// The font-keyword pass: weight keywords as numbers and family names
// without needless quotes, for "font", "font-weight" and "font-family".
// Each rewrite reads the value as a list of tokens rather than replacing
// substrings, so "bolder", a line height "12px/normal" and a family named
// "Roboto-bold" stay what they are.

#include <string>
#include <string_view>

#include "css/arena.h"
#include "css/declaration_map.h"

namespace css {

// "normal" to "400" and "bold" to "700" when that is the whole value, a
// trailing "!important" aside. Every other value is returned unchanged.
std::string rewrite_font_weight(std::string value);

// The shorthand: among the tokens before the font size, "bold" becomes
// "700", and "normal" becomes "400" when it is the only "normal" there and
// no other weight is given. The line height is left alone and the family
// list is rewritten as by rewrite_font_family. A value with no recognisable
// size (a system font, a CSS-wide keyword, var()) is returned unchanged.
std::string rewrite_font_shorthand(std::string_view value);

// Drops the double quotes around a family name when the name reads the same
// unquoted: one or more CSS identifiers separated by single spaces, none of
// them a generic family or a CSS-wide keyword, and no escapes. So
// "Open Sans" loses its quotes while "Font Awesome 5 Free", "serif" and
// "1942 Report" keep theirs. Single-quoted names and everything else are
// kept as written.
std::string rewrite_font_family(std::string_view value);

// The pass: runs the three rewrites on the values of the declarations named
// exactly "font", "font-weight" and "font-family", in place; a changed
// value goes into the arena. Names and order do not change.
void rewrite_font_keywords(DeclarationMap& declarations, Arena& arena);

}  // namespace css
