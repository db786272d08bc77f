#pragma once
// The third default transformer: property names in lower case.

#include <string>

namespace css {

// The name in lower case by the Unicode default full mapping, final sigma
// included. A custom property ("--Main-Color") stays as written: those
// names are case-sensitive, and lower-casing one would detach it from its
// var() uses and merge "--a" with "--A".
std::string lowercase_name(std::string name);

}  // namespace css
