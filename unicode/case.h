#pragma once
// Case mapping from the Unicode Character Database.

#include <string>
#include <string_view>

namespace unicode {

// The default full lower-case mapping of a UTF-8 text (UnicodeData.txt plus
// the unconditional entries of SpecialCasing.txt), with the Final_Sigma
// context for U+03A3: a capital sigma preceded by a cased letter (skipping
// case-ignorable characters) and not followed by one becomes U+03C2, any
// other becomes U+03C3. The language-specific rules (Turkish, Lithuanian)
// are not applied. Ill-formed UTF-8 is copied through unchanged.
std::string to_lower(std::string_view text);

}  // namespace unicode
