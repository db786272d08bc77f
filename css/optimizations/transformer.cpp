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
    DeclarationMap rewritten;
    for (Declaration& declaration : declarations) {
        std::string name = std::move(declaration.name);
        std::string value = std::move(declaration.value);
        for (const Transformer& transformer : transformers) {
            if (transformer.target == TransformTarget::Name) {
                // The property view must not alias the text being moved in.
                const std::string property = name;
                name = transformer.apply(std::move(name), property);
            } else {
                value = transformer.apply(std::move(value), name);
            }
        }
        rewritten.insert(std::move(name), std::move(value));
    }
    return rewritten;
}

}  // namespace css
