#include "css/optimizations/transformer.h"

#include <utility>

#include "css/optimizations/lowercase_name.h"
#include "css/optimizations/shorten_colour.h"
#include "css/optimizations/shorten_numbers.h"

namespace css {

std::vector<Transformer> default_transformers() {
  std::vector<Transformer> list;
  list.push_back(
      {TransformTarget::value,
       [](std::string value, std::string_view) { return shorten_colour(std::move(value)); },
       colour_left_as_is});
  list.push_back({TransformTarget::value,
                  [](std::string value, std::string_view property) {
                    return shorten_numbers(std::move(value), property);
                  },
                  numbers_left_as_is});
  list.push_back(
      {TransformTarget::name,
       [](std::string name, std::string_view) { return lowercase_name(std::move(name)); },
       name_left_as_is});
  return list;
}

bool TransformerPass::store_if_changed(std::string_view* text) {
  if (text == nullptr || buffer_ == *text) return false;
  *text = arena_.store(buffer_);
  return true;
}

void TransformerPass::run(DeclarationMap& declarations) {
  // Rewritten where they stand, then repeats dropped: the same map as
  // inserting the rewritten declarations one by one into a new one, without
  // building it.
  bool changed = false;
  for (Declaration& declaration : declarations) {
    // The text now in the buffer; consecutive value rewrites share it.
    std::string_view* loaded = nullptr;
    for (const Transformer& transformer : transformers_) {
      const bool name = transformer.target == TransformTarget::name;
      std::string_view& text = name ? declaration.name : declaration.value;
      if (transformer.leaves_as_is != nullptr &&
          transformer.leaves_as_is(loaded == &text ? std::string_view(buffer_) : text)) {
        continue;
      }
      // A name is stored before its rewrite, so that the property
      // handed over never aliases the buffer moved in; so is a value
      // before the name is read as the property.
      if (loaded != &text || name) {
        changed |= store_if_changed(loaded);
        buffer_.assign(text);
        loaded = &text;
      }
      buffer_ = transformer.apply(std::move(buffer_), declaration.name);
    }
    changed |= store_if_changed(loaded);
  }
  // Inserting left no two entries equal; only a rewrite can make them so.
  if (changed) declarations.drop_repeats();
}

}  // namespace css
