#include "css/optimizations/transformer.h"

#include <utility>

#include "css/optimizations/lowercase_name.h"
#include "css/optimizations/shorten_colour.h"
#include "css/optimizations/shorten_numbers.h"

namespace css {

std::vector<Transformer> default_transformers() {
  std::vector<Transformer> list;
  list.push_back({TransformTarget::Value, [](std::string value, std::string_view) {
                    return shorten_colour(std::move(value));
                  }});
  list.push_back({TransformTarget::Value, [](std::string value, std::string_view property) {
                    return shorten_numbers(std::move(value), property);
                  }});
  list.push_back({TransformTarget::Name, [](std::string name, std::string_view) {
                    return lowercase_name(std::move(name));
                  }});
  return list;
}

void TransformerPass::store_if_changed(std::string_view* text) {
  if (text != nullptr && buffer_ != *text) *text = arena_.store(buffer_);
}

void TransformerPass::run(DeclarationMap& declarations) {
  // Rewritten where they stand, then repeats dropped: the same map as
  // inserting the rewritten declarations one by one into a new one, without
  // building it.
  for (Declaration& declaration : declarations) {
    // The text now in the buffer; consecutive value rewrites share it.
    std::string_view* loaded = nullptr;
    for (const Transformer& transformer : transformers_) {
      const bool name = transformer.target == TransformTarget::Name;
      std::string_view& text = name ? declaration.name : declaration.value;
      // A name is stored before its rewrite, so that the property
      // handed over never aliases the buffer moved in; so is a value
      // before the name is read as the property.
      if (loaded != &text || name) {
        store_if_changed(loaded);
        buffer_.assign(text);
        loaded = &text;
      }
      buffer_ = transformer.apply(std::move(buffer_), declaration.name);
    }
    store_if_changed(loaded);
  }
  declarations.drop_repeats();
}

}  // namespace css
