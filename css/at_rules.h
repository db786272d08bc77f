#pragma once
// At-rules beyond the fixed kinds: how a name is read, which names have a
// block worth parsing, and how the text of the others is collapsed.

#include <cstddef>
#include <string>
#include <string_view>

namespace css {

// The end of the at-keyword whose '@' is at `at`: letters, digits, '-',
// '_', bytes from 0x80 up and backslash escapes. at + 1 when no name follows.
std::size_t at_keyword_end(std::string_view text, std::size_t at);

// Whether an at-rule of this (lower-case) name holds rules or declarations
// that are parsed and minified: @layer, @container, @scope, @property, the
// page margin boxes and the like. Any other block is kept as text.
bool is_parsed_at_rule(std::string_view name);

// Whether the fixed grammar has a rule of its own for this name (@media,
// @import, @font-face, ...; not @page, whose margin boxes it lacks, nor
// @charset, which in another case is an unknown rule).
bool is_fixed_at_rule(std::string_view name);

// The text with each run of white space and comments outside strings made
// one space, or nothing at either end and beside '{', '}' and ';'. A run of
// comments alone between two other characters is kept as written: dropping
// it could join two tokens into one.
std::string collapse_space(std::string_view text);

}  // namespace css
