#pragma once
// The third default transformer: property names in lower case.

#include <string>
#include <string_view>

namespace css {

// The name in lower case by the Unicode default full mapping, final sigma
// included. A custom property ("--Main-Color") stays as written: those
// names are case-sensitive, and lower-casing one would detach it from its
// var() uses and merge "--a" with "--A".
std::string lowercase_name(std::string name);
// True for names lowercase_name surely gives back as they are: custom
// properties, and ASCII names without a capital.
bool name_left_as_is(std::string_view name);

}  // namespace css
