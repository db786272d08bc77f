#include "css/optimizations/transformer.h"

#include <utility>

#include "css/optimizations/lowercase_name.h"
#include "css/optimizations/shorten_colour.h"
#include "css/optimizations/shorten_numbers.h"

namespace css {

std::vector<Transformer> default_transformers() {
    std::vector<Transformer> list;
    list.push_back({TransformTarget::Value,
                    [](std::string value, std::string_view) { return shorten_colour(std::move(value)); }});
    list.push_back({TransformTarget::Value, [](std::string value, std::string_view property) {
                        return shorten_numbers(std::move(value), property);
                    }});
    list.push_back({TransformTarget::Name,
                    [](std::string name, std::string_view) { return lowercase_name(std::move(name)); }});
    return list;
}

DeclarationMap apply_transformers(DeclarationMap declarations, const std::vector<Transformer>& transformers) {
    // Rewritten where they stand, then repeats dropped: the same map as
    // inserting the rewritten declarations one by one into a new one, without
    // building it.
    for (Declaration& declaration : declarations) {
        for (const Transformer& transformer : transformers) {
            if (transformer.target == TransformTarget::Name) {
                // The property view must not alias the text being moved in.
                const std::string property = declaration.name;
                declaration.name = transformer.apply(std::move(declaration.name), property);
            } else {
                declaration.value = transformer.apply(std::move(declaration.value), declaration.name);
            }
        }
    }
    declarations.drop_repeats();
    return declarations;
}

}  // namespace css
