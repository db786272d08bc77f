#include "css/parser.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "css/scanner.h"

namespace css {

namespace {

constexpr std::size_t npos = std::string_view::npos;

constexpr CharSet block_open{"{"};
constexpr CharSet statement_end{";"};
constexpr CharSet word_split_stops{" \t\r\n;"};
constexpr CharSet selector_stops{",{:"};
constexpr CharSet pseudo_name_stops{"(,{:"};
constexpr CharSet declaration_name_stops{":;}"};
constexpr CharSet declaration_value_stops{";}"};
// What may not begin a selector list, a declaration or a keyframe.
constexpr CharSet item_openers{"@{}"};

// Every rule takes the position by reference and moves it only when it
// matches, so a failed alternative leaves no trace and the next one starts
// from the same place.
class Parser {
public:
    explicit Parser(std::string_view text) : scanner_(text), text_(text) {}

    std::expected<Stylesheet, ParseFailure> parse_document() {
        Stylesheet sheet;
        std::size_t pos = gap(0);
        items(pos, sheet.items, 0);
        pos = gap(pos);
        if (pos != text_.size()) return std::unexpected(ParseFailure{pos});
        return sheet;
    }

private:
    std::size_t gap(std::size_t pos, bool* saw_space = nullptr) { return scanner_.skip_gap(pos, saw_space); }
    bool at(std::size_t pos, char c) const { return scanner_.at(pos, c); }
    bool starts_with(std::size_t pos, std::string_view literal) const { return scanner_.starts_with(pos, literal); }
    // not-next: a character follows and it is not one of the set.
    bool next_is_not(std::size_t pos, const CharSet& set) const { return pos < text_.size() && !set.has(text_[pos]); }
    std::string_view slice(std::size_t from, std::size_t to) const { return text_.substr(from, to - from); }

    // A piece trimmed of trim space, and of the comments that the trim lays
    // bare at its start: "x:\v/*c*/;" has as empty a value as "x:;", and
    // keeping the comment would print text that reads back differently.
    std::string_view trimmed(std::size_t start, std::size_t end) {
        while (true) {
            const std::string_view piece = trim(slice(start, end));
            start = static_cast<std::size_t>(piece.data() - text_.data());
            end = start + piece.size();
            const std::size_t after = std::min(gap(start), end);
            if (after == start) return piece;
            start = after;
        }
    }

    // Zero or more items; stops before the first that does not match.
    void items(std::size_t& pos, std::vector<Item>& out, std::size_t depth) {
        while (true) {
            std::size_t next = pos;
            std::optional<Item> item = parse_item(next, depth);
            if (!item) return;
            out.push_back(std::move(*item));
            pos = next;
        }
    }

    std::optional<Item> parse_item(std::size_t& pos, std::size_t depth) {
        // Every alternative begins with the same gap, so it is skipped once.
        std::size_t start = gap(pos);
        std::optional<Item> item;
        if (at(start, '@')) {
            if (!item) item = media_rule(start, depth);
            if (!item) item = statement_rule(start);
            if (!item) item = keyframes_rule(start);
            if (!item) item = declarations_rule<FontFaceRule>(start, "@font-face");
            if (!item) item = declarations_rule<ViewportRule>(start, "@viewport");
            if (!item) item = declarations_rule<MsViewportRule>(start, "@-ms-viewport");
            if (!item) item = supports_rule(start, depth);
            if (!item) item = page_rule(start);
            // A style rule cannot begin with '@', so nothing is left to try.
        } else {
            item = style_rule(start);
        }
        if (item) pos = start;
        return item;
    }

    // gap, up-to '{', trimmed; a prelude that trims to nothing is no
    // prelude, since "@media {" could not be read back.
    std::optional<std::string_view> prelude(std::size_t& pos) {
        const std::size_t start = gap(pos);
        const std::size_t end = scanner_.scan_piece(start, block_open, Nesting::None);
        const std::string_view text = trimmed(start, end);
        if (text.empty()) return std::nullopt;
        pos = end;
        return text;
    }

    // '{', items, '}'. The depth check is what keeps hostile nesting from
    // exhausting the stack; failing here fails the top-level item as any
    // other mismatch would.
    std::optional<std::vector<Item>> nested_block(std::size_t& pos, std::size_t depth) {
        if (!at(pos, '{') || depth >= max_nesting_depth) return std::nullopt;
        std::vector<Item> body;
        std::size_t next = gap(pos + 1);
        items(next, body, depth + 1);
        next = gap(next);
        if (!at(next, '}')) return std::nullopt;
        pos = next + 1;
        return body;
    }

    template <typename Rule>
    std::optional<Item> conditional_rule(std::size_t& pos, std::string_view literal, std::size_t depth) {
        if (!starts_with(pos, literal)) return std::nullopt;
        std::size_t next = pos + literal.size();
        const std::optional<std::string_view> text = prelude(next);
        if (!text) return std::nullopt;
        std::optional<std::vector<Item>> body = nested_block(next, depth);
        if (!body) return std::nullopt;
        pos = next;
        return Rule{std::string(*text), std::move(*body)};
    }

    std::optional<Item> media_rule(std::size_t& pos, std::size_t depth) {
        return conditional_rule<MediaRule>(pos, "@media", depth);
    }

    std::optional<Item> supports_rule(std::size_t& pos, std::size_t depth) {
        return conditional_rule<SupportsRule>(pos, "@supports", depth);
    }

    // gap, up-to ';', gap, ';'. Not trimmed: "url(a.css) ;" keeps its space.
    std::optional<std::pair<std::size_t, std::size_t>> statement_text(std::size_t& pos) {
        const std::size_t start = gap(pos);
        const std::size_t end = scanner_.scan_piece(start, statement_end, Nesting::None);
        if (end == start || !at(end, ';')) return std::nullopt;
        pos = end + 1;
        return std::pair{start, end};
    }

    struct Words {
        std::string first;
        std::optional<std::string> rest;
    };

    // The first word, then everything after the run of word breaks that
    // follows it. Word breaks inside a quoted string do not count.
    Words split_words(std::size_t start, std::size_t end) {
        const std::size_t first_end = scanner_.scan_piece(start, word_split_stops, Nesting::None);
        if (first_end >= end) return Words{std::string(slice(start, end)), std::nullopt};
        std::size_t rest = first_end;
        while (rest < end && is_word_break(text_[rest])) ++rest;
        return Words{std::string(slice(start, first_end)), std::string(slice(rest, end))};
    }

    std::optional<Item> statement_rule(std::size_t& pos) {
        std::size_t next = pos;
        if (starts_with(pos, "@charset")) {
            next += 8;
            const auto text = statement_text(next);
            if (!text) return std::nullopt;
            pos = next;
            return StatementRule{CharsetRule{std::string(slice(text->first, text->second))}};
        }
        if (starts_with(pos, "@namespace")) {
            next += 10;
            const auto text = statement_text(next);
            if (!text) return std::nullopt;
            Words words = split_words(text->first, text->second);
            pos = next;
            if (!words.rest) return StatementRule{NamespaceRule{std::move(words.first), std::nullopt}};
            return StatementRule{NamespaceRule{std::move(*words.rest), std::move(words.first)}};
        }
        if (starts_with(pos, "@import")) {
            next += 7;
            const auto text = statement_text(next);
            if (!text) return std::nullopt;
            Words words = split_words(text->first, text->second);
            pos = next;
            return StatementRule{ImportRule{std::move(words.first), std::move(words.rest)}};
        }
        return std::nullopt;
    }

    std::optional<Item> keyframes_rule(std::size_t& pos) {
        KeyframesRule rule;
        std::size_t next = pos;
        if (starts_with(pos, "@keyframes")) {
            next += 10;
        } else if (starts_with(pos, "@-webkit-keyframes")) {
            next += 18;
            rule.webkit = true;
        } else {
            return std::nullopt;
        }
        const std::optional<std::string_view> name = prelude(next);
        if (!name || !at(next, '{')) return std::nullopt;
        next = gap(next + 1);
        while (true) {
            std::size_t after = next;
            std::optional<KeyframeBlock> frame = keyframe_block(after);
            if (!frame) break;
            rule.frames.push_back(std::move(*frame));
            next = after;
        }
        next = gap(next);
        if (!at(next, '}')) return std::nullopt;
        rule.name = std::string(*name);
        pos = next + 1;
        return rule;
    }

    std::optional<KeyframeBlock> keyframe_block(std::size_t& pos) {
        std::size_t next = gap(pos);
        if (!next_is_not(next, item_openers)) return std::nullopt;
        const std::optional<std::string_view> selector = prelude(next);
        if (!selector || item_openers.has(selector->front())) return std::nullopt;
        std::optional<DeclarationMap> declarations = declaration_block(next);
        if (!declarations) return std::nullopt;
        pos = gap(next);
        return KeyframeBlock{std::string(*selector), std::move(*declarations)};
    }

    template <typename Rule>
    std::optional<Item> declarations_rule(std::size_t& pos, std::string_view literal) {
        if (!starts_with(pos, literal)) return std::nullopt;
        std::size_t next = gap(pos + literal.size());
        std::optional<DeclarationMap> declarations = declaration_block(next);
        if (!declarations) return std::nullopt;
        pos = next;
        return Rule{std::move(*declarations)};
    }

    std::optional<Item> page_rule(std::size_t& pos) {
        if (!starts_with(pos, "@page")) return std::nullopt;
        std::size_t next = gap(pos + 5);
        const std::size_t end = scanner_.scan_piece(next, block_open, Nesting::None);
        const std::string_view selector = trimmed(next, end);
        next = end;
        std::optional<DeclarationMap> declarations = declaration_block(next);
        if (!declarations) return std::nullopt;
        pos = next;
        PageRule rule{std::move(*declarations), std::nullopt};
        if (!selector.empty()) rule.page_selector = std::string(selector);
        return rule;
    }

    std::optional<DeclarationMap> declaration_block(std::size_t& pos) {
        if (!at(pos, '{')) return std::nullopt;
        // Collected first, so that the map is sized once: blocks do not
        // nest, so one list serves every block.
        pending_.clear();
        std::size_t next = gap(pos + 1);
        while (true) {
            std::size_t after = gap(next);
            if (!next_is_not(after, item_openers) || !declaration(after)) break;
            next = gap(after);
        }
        next = gap(next);
        if (!at(next, '}')) return std::nullopt;
        pos = next + 1;
        DeclarationMap declarations;
        declarations.reserve(pending_.size());
        for (Declaration& declaration : pending_) {
            declarations.insert(std::move(declaration.name), std::move(declaration.value));
        }
        return declarations;
    }

    // A name or value that trims to nothing counts as missing: "color:\f;"
    // is as empty as "color:;", and printing it would not parse again.
    bool declaration(std::size_t& pos) {
        const std::size_t name_start = gap(pos);
        const std::size_t name_end = scanner_.scan_piece(name_start, declaration_name_stops, Nesting::None);
        const std::string_view name = trimmed(name_start, name_end);
        // What the trim uncovers must not be what no declaration may begin
        // with, or the printed block would not read back.
        if (name.empty() || item_openers.has(name.front()) || !at(name_end, ':')) return false;
        const std::size_t value_start = gap(name_end + 1);
        const std::size_t value_end =
            scanner_.scan_piece(value_start, declaration_value_stops, Nesting::Parentheses);
        const std::string_view value = trimmed(value_start, value_end);
        if (value.empty() || value_end == text_.size()) return false;
        pos = at(value_end, ';') ? value_end + 1 : value_end;
        pending_.push_back(Declaration{std::string(name), std::string(value)});
        return true;
    }

    std::optional<Item> style_rule(std::size_t& pos) {
        std::size_t next = pos;
        std::optional<std::vector<Selector>> selectors = selector_list(next);
        if (!selectors) return std::nullopt;
        std::optional<DeclarationMap> declarations = declaration_block(next);
        if (!declarations) return std::nullopt;
        pos = next;
        return StyleRule{std::move(*selectors), std::move(*declarations)};
    }

    std::optional<std::vector<Selector>> selector_list(std::size_t& pos) {
        std::size_t next = gap(pos);
        if (!next_is_not(next, item_openers)) return std::nullopt;
        std::vector<Selector> selectors;
        selectors.push_back(selector(next));
        while (at(next, ',')) {
            ++next;
            selectors.push_back(selector(next));
        }
        pos = gap(next);
        return selectors;
    }

    // Always matches, possibly nothing: "a,,b" has an empty middle entry.
    Selector selector(std::size_t& pos) {
        Selector result;
        std::size_t next = gap(pos);
        // Set when white space stood before the next pseudo-class's colon.
        bool space_pending = false;
        if (std::optional<SimpleSelector> simple = simple_selector(next, space_pending)) {
            result.simple = std::move(simple);
        }
        next = gap(next, &space_pending);
        while (true) {
            std::size_t after = next;
            std::optional<PseudoClass> pseudo = pseudo_class(after, space_pending);
            if (!pseudo) break;
            result.pseudo_classes.push_back(std::move(*pseudo));
            next = after;
        }
        pos = gap(next);
        return result;
    }

    std::optional<SimpleSelector> simple_selector(std::size_t& pos, bool& space_after) {
        const auto take = [&](std::size_t start, SelectorKind kind) -> std::optional<SimpleSelector> {
            const std::size_t end = scanner_.scan_piece(start, selector_stops, Nesting::Brackets);
            const std::string_view raw = slice(start, end);
            const std::string_view text = trimmed(start, end);
            if (text.empty()) return std::nullopt;
            // The trim drops the space of "a :hover"; remember that it was
            // there, since it is a descendant combinator.
            space_after = trim_end(raw).size() != raw.size();
            pos = end;
            return SimpleSelector{kind, std::string(text)};
        };
        std::optional<SimpleSelector> simple;
        if (at(pos, '#')) simple = take(pos + 1, SelectorKind::Id);
        if (!simple && at(pos, '.')) simple = take(pos + 1, SelectorKind::Class);
        if (!simple) simple = take(pos, SelectorKind::Tag);
        return simple;
    }

    // space_before says whether white space stood before this colon; on
    // return it says the same for the next one.
    std::optional<PseudoClass> pseudo_class(std::size_t& pos, bool& space_before) {
        bool space = space_before;
        std::size_t next = gap(pos, &space);
        if (!at(next, ':')) return std::nullopt;
        PseudoClass pseudo;
        ++next;
        if (at(next, ':')) {
            pseudo.double_colon = true;
            ++next;
        }
        const std::size_t name_end = scanner_.scan_piece(next, pseudo_name_stops, Nesting::Brackets);
        if (name_end == next) return std::nullopt;
        pseudo.name = std::string(slice(next, name_end));
        pseudo.space_before = space;
        next = gap(name_end);
        if (at(next, '(')) {
            // An unclosed argument would let the text after the selector,
            // which sorting changes, decide where it ends.
            const std::size_t close = scanner_.matching_parenthesis(next);
            if (close == npos) return std::nullopt;
            // "()" is no argument; it stays in the trailing text.
            if (close > next + 1) {
                pseudo.argument = std::string(slice(next + 1, close));
                next = close + 1;
            }
        }
        bool space_after = false;
        next = gap(next, &space_after);
        const std::size_t trailing_end = scanner_.scan_piece(next, selector_stops, Nesting::Brackets);
        if (trailing_end != next) {
            pseudo.trailing = std::string(slice(next, trailing_end));
            pseudo.space_before_trailing = space_after;
            space_after = false;
            next = gap(trailing_end, &space_after);
        }
        space_before = space_after;
        pos = next;
        return pseudo;
    }

    Scanner scanner_;
    std::string_view text_;
    std::vector<Declaration> pending_;
};

}  // namespace

std::expected<Stylesheet, ParseFailure> parse_stylesheet(std::string_view text) {
    return Parser(text).parse_document();
}

}  // namespace css
