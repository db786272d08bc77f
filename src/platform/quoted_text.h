#pragma once
// The quoted diagnostic form of a text that is not valid Unicode, as both
// platforms print it: the parts they share, one character at a time.

#include <string>

namespace brelix::platform {

// "\u{" and the lower-case hexadecimal digits of c without leading zeros, "}".
void append_hex_escape(std::string& out, char32_t c);

// c as the quoted form shows a character that is valid: the usual escapes
// for quotes, backslash, line feed, carriage return, tab and NUL, other
// control characters and DEL as a hex escape, everything else as UTF-8.
void append_quoted_char(std::string& out, char32_t c);

}  // namespace brelix::platform
