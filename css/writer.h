#pragma once
// Model to minified text. Every stored text is printed as it is; the writer
// adds only its fixed pieces ("@media ", "{", ";", ...), no comments, no
// line breaks and no ';' after the last declaration of a block. All five
// functions only read the model and never fail.

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "css/model.h"

namespace css {

// expected_size is only a capacity hint (the input's length, say), so that
// a large sheet is not copied again and again as the text grows.
std::string write_stylesheet(const Stylesheet& sheet, std::size_t expected_size = 0);
std::string write_item(const Item& item);
// One item appended to out as write_stylesheet prints it; top-level items
// need nothing between them, so a sheet may be printed one item at a time.
void append_item(std::string& out, const Item& item);
// The selectors printed one by one, sorted byte-wise (duplicates kept) and
// joined with ','.
std::string write_selector_list(std::span<const Selector> selectors);
// "name:value" per entry in map order, joined with ';'.
std::string write_declarations(const DeclarationMap& declarations);

}  // namespace css
