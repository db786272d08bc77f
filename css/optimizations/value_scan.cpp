#include "css/optimizations/value_scan.h"

#include <array>

namespace css {

namespace {

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equals_lower(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (ascii_lower(text[i]) != lower[i]) return false;
    }
    return true;
}

constexpr std::array<std::string_view, 5> guarded_functions{"calc", "min", "max", "clamp", "var"};

}  // namespace

bool is_guarded_function(std::string_view name) {
    // "-webkit-calc": skip the vendor part; "--x" is a custom name, not one.
    if (name.size() > 1 && name[0] == '-' && name[1] != '-') {
        const std::size_t dash = name.find('-', 1);
        if (dash == std::string_view::npos) return false;
        name.remove_prefix(dash + 1);
    }
    for (std::string_view function : guarded_functions) {
        if (equals_lower(name, function)) return true;
    }
    return false;
}

std::size_t quoted_end(std::string_view text, std::size_t open) {
    const char quote = text[open];
    std::size_t pos = open + 1;
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == quote) return pos + 1;
        pos += c == '\\' ? 2 : 1;
    }
    return text.size();
}

}  // namespace css
