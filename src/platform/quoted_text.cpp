#include "src/platform/quoted_text.h"

#include "unicode/utf8.h"

namespace brelix::platform {

void append_hex_escape(std::string& out, char32_t c) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string digits;
  do {
    digits.insert(digits.begin(), hex[c & 0xF]);
    c >>= 4;
  } while (c != 0);
  out += "\\u{";
  out += digits;
  out += "}";
}

void append_quoted_char(std::string& out, char32_t c) {
  switch (c) {
    case U'"':
      out += "\\\"";
      break;
    case U'\\':
      out += "\\\\";
      break;
    case U'\n':
      out += "\\n";
      break;
    case U'\r':
      out += "\\r";
      break;
    case U'\t':
      out += "\\t";
      break;
    case U'\0':
      out += "\\0";
      break;
    default:
      if (c < 0x20 || c == 0x7F) {
        append_hex_escape(out, c);
      } else {
        unicode::append_utf8(out, c);
      }
  }
}

}  // namespace brelix::platform
