#include "css/parser.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "css/ascii.h"
#include "css/at_rules.h"
#include "css/scanner.h"

namespace css {

namespace {

constexpr std::size_t npos = std::string_view::npos;

constexpr CharSet block_open{"{"};
constexpr CharSet statement_end{";"};
constexpr CharSet word_split_stops{" \t\r\n;"};
constexpr CharSet selector_stops{",{:"};
constexpr CharSet pseudo_name_stops{"(,{:"};
constexpr CharSet declaration_value_stops{";}"};
// In modern CSS a '{' ends a would-be declaration: "b:hover{...}" and
// "div{...}" inside a rule are nested rules.
constexpr CharSet nested_name_stops{":;{}"};
constexpr CharSet nested_value_stops{";{}"};
constexpr CharSet at_rule_prelude_stops{"{;}"};
// What may not begin a selector list, a declaration or a keyframe.
constexpr CharSet item_openers{"@{}"};

// Every rule takes the position by reference and moves it only when it
// matches, so a failed alternative leaves no trace and the next one starts
// from the same place.
//
// Two grammars share the rules. The fixed grammar reads what this minifier
// has always read, and its reading of a sheet it accepts is the one kept,
// byte for byte. The modern grammar, tried only on a sheet the fixed one
// rejects, reads CSS as browsers now do: nesting, at-rules of any name and
// letter case, custom properties with an empty value. It differs from the
// fixed grammar only where `modern_` is tested.
//
// Wherever it is tested, the fixed grammar also notes in `diverges_`
// whether the modern one could take another way there. An item read with
// no such note is one the modern grammar reads the same, so a sheet need
// not be read twice from its start when the fixed grammar fails late.
class Parser {
 public:
  Parser(std::string_view text, Arena& arena) : scanner_(text), text_(text), arena_(&arena) {}

  // One top-level item at pos; pos moves past it only when it matches.
  std::optional<Item> top_level_item(std::size_t& pos) { return parse_item(pos, 0); }

  std::size_t gap(std::size_t pos, bool* saw_space = nullptr) {
    return scanner_.skip_gap(pos, saw_space);
  }
  bool modern() const { return modern_; }
  void read_modern() {
    modern_ = true;
    scanner_.count_form_feed_as_space();
  }

  // Past the "<!--" and "-->" at pos and the gaps around them: at the top
  // level a browser skips them. Only the modern grammar does; the fixed
  // one reads them into the next selector.
  std::size_t skip_markers(std::size_t pos) {
    while (true) {
      const std::size_t next = gap(pos);
      if (starts_with(next, "<!--")) {
        pos = next + 4;
      } else if (starts_with(next, "-->")) {
        pos = next + 3;
      } else {
        return pos;
      }
    }
  }
  // Whether the modern grammar might have read otherwise anything the
  // fixed grammar read since the last call.
  bool take_divergence() { return std::exchange(diverges_, false); }
  // Whether a string read since the last call held a raw line break.
  bool take_broken_string() { return scanner_.take_broken_string(); }

 private:
  bool at(std::size_t pos, char c) const { return scanner_.at(pos, c); }
  bool starts_with(std::size_t pos, std::string_view literal) const {
    return scanner_.starts_with(pos, literal);
  }
  // not-next: a character follows and it is not one of the set.
  bool next_is_not(std::size_t pos, const CharSet& set) const {
    return pos < text_.size() && !set.has(text_[pos]);
  }
  std::size_t pos_of(std::string_view piece) const {
    return static_cast<std::size_t>(piece.data() - text_.data());
  }
  std::string_view slice(std::size_t from, std::size_t to) const {
    return text_.substr(from, to - from);
  }
  // The written text where rewriting left it as it was, else the rewritten
  // one, kept in the sheet's arena.
  std::string_view kept(std::string_view written, std::string_view rewritten) {
    return rewritten == written ? written : arena_->store(rewritten);
  }

  // An at-rule's name: a prefix of the text in the fixed grammar
  // ("@mediax" matches "@media"), the whole name in the modern one, in any
  // letter case unless exact_case.
  bool keyword(std::size_t pos, std::string_view literal, bool exact_case = false) {
    const auto whole_name = [&] { return keyword_end(pos) == pos + literal.size(); };
    if (!modern_) {
      if (!starts_with(pos, literal)) return false;
      if (!whole_name()) diverges_ = true;
      return true;
    }
    if (!whole_name()) return false;
    return exact_case ? starts_with(pos, literal)
                      : equals_ascii_lower(text_.substr(pos, literal.size()), literal);
  }

  // at_keyword_end, remembered: every alternative of an item asks it of
  // the same '@'.
  std::size_t keyword_end(std::size_t pos) {
    if (pos != keyword_at_) {
      keyword_at_ = pos;
      keyword_end_ = at_keyword_end(text_, pos);
    }
    return keyword_end_;
  }

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
      if (!item && modern_) item = modern_at_rule(start, depth);
      // A style rule cannot begin with '@', so nothing is left to try.
    } else if (depth > 0 || (!starts_with(start, "<!--") && !starts_with(start, "-->"))) {
      // A top-level "<!--" or "-->" is no part of a selector (see
      // skip_markers): the fixed grammar, which would read it into one,
      // leaves such a sheet to the modern grammar.
      item = style_rule(start, depth);
    }
    if (item) pos = start;
    return item;
  }

  // gap, up-to '{', trimmed; a prelude that trims to nothing is no
  // prelude, since "@media {" could not be read back.
  std::optional<std::string_view> prelude(std::size_t& pos) {
    const std::size_t start = gap(pos);
    const std::size_t end = scanner_.scan_piece(start, block_open, Nesting::none);
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
    std::vector<Item>& collected = item_buffer(depth);
    std::size_t next = gap(pos + 1);
    items(next, collected, depth + 1);
    next = gap(next);
    if (!at(next, '}')) return std::nullopt;
    pos = next + 1;
    return taken(collected);
  }

  // A block's items are collected in the buffer of its depth and then
  // moved into a list of their number: most blocks hold a few items, and
  // a list grown item by item would be allocated again and again. One
  // block at a time is read at each depth.
  std::vector<Item>& item_buffer(std::size_t depth) {
    std::vector<Item>& buffer = item_buffers_[depth];
    buffer.clear();
    return buffer;
  }
  static std::vector<Item> taken(std::vector<Item>& collected) {
    return std::vector<Item>(std::make_move_iterator(collected.begin()),
                             std::make_move_iterator(collected.end()));
  }

  template <typename Rule>
  std::optional<Item> conditional_rule(std::size_t& pos, std::string_view literal,
                                       std::size_t depth) {
    if (!keyword(pos, literal)) return std::nullopt;
    std::size_t next = pos + literal.size();
    std::optional<std::string_view> text = prelude(next);
    // An empty media query list is valid and matches all media; the
    // modern grammar, which prints it back as "@media {", reads it.
    if (!text && modern_ && literal == "@media" && at(gap(next), '{')) {
      next = gap(next);
      text = slice(next, next);
    }
    if (!text) return std::nullopt;
    std::optional<std::vector<Item>> body =
        modern_ ? body_items(next, depth) : nested_block(next, depth);
    if (!body) return std::nullopt;
    pos = next;
    return Rule{*text, std::move(*body)};
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
    const std::size_t end = scanner_.scan_piece(start, statement_end, Nesting::none);
    if (end == start || !at(end, ';')) return std::nullopt;
    pos = end + 1;
    return std::pair{start, end};
  }

  struct Words {
    std::string_view first;
    std::optional<std::string_view> rest;
  };

  // The first word, then everything after the run of word breaks that
  // follows it. Word breaks inside a quoted string do not count.
  Words split_words(std::size_t start, std::size_t end) {
    const std::size_t first_end = scanner_.scan_piece(start, word_split_stops, Nesting::none);
    if (first_end >= end) return Words{slice(start, end), std::nullopt};
    std::size_t rest = first_end;
    while (rest < end && is_word_break(text_[rest])) ++rest;
    return Words{slice(start, first_end), slice(rest, end)};
  }

  std::optional<Item> statement_rule(std::size_t& pos) {
    std::size_t next = pos;
    // Only the exact bytes "@charset" name an encoding; "@CHARSET" is an
    // unknown rule, kept as written.
    if (keyword(pos, "@charset", true)) {
      next += 8;
      const auto text = statement_text(next);
      if (!text) return std::nullopt;
      pos = next;
      return StatementRule{CharsetRule{slice(text->first, text->second)}};
    }
    if (keyword(pos, "@namespace")) {
      next += 10;
      const auto text = statement_text(next);
      if (!text) return std::nullopt;
      const Words words = split_words(text->first, text->second);
      pos = next;
      if (!words.rest) return StatementRule{NamespaceRule{words.first, std::nullopt}};
      return StatementRule{NamespaceRule{*words.rest, words.first}};
    }
    if (keyword(pos, "@import")) {
      next += 7;
      const auto text = statement_text(next);
      if (!text) return std::nullopt;
      const Words words = split_words(text->first, text->second);
      pos = next;
      return StatementRule{ImportRule{words.first, words.rest}};
    }
    return std::nullopt;
  }

  std::optional<Item> keyframes_rule(std::size_t& pos) {
    KeyframesRule rule;
    std::size_t next = pos;
    if (keyword(pos, "@keyframes")) {
      next += 10;
    } else if (keyword(pos, "@-webkit-keyframes")) {
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
    rule.name = *name;
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
    return KeyframeBlock{*selector, std::move(*declarations)};
  }

  template <typename Rule>
  std::optional<Item> declarations_rule(std::size_t& pos, std::string_view literal) {
    if (!keyword(pos, literal)) return std::nullopt;
    std::size_t next = gap(pos + literal.size());
    std::optional<DeclarationMap> declarations = declaration_block(next);
    if (!declarations) return std::nullopt;
    pos = next;
    return Rule{std::move(*declarations)};
  }

  std::optional<Item> page_rule(std::size_t& pos) {
    if (!keyword(pos, "@page")) return std::nullopt;
    std::size_t next = gap(pos + 5);
    const std::size_t end = scanner_.scan_piece(next, block_open, Nesting::none);
    const std::string_view selector = trimmed(next, end);
    next = end;
    std::optional<DeclarationMap> declarations = declaration_block(next);
    if (!declarations) return std::nullopt;
    pos = next;
    PageRule rule{std::move(*declarations), std::nullopt};
    if (!selector.empty()) rule.page_selector = selector;
    return rule;
  }

  // Past the gap at pos and, in the modern grammar, the empty declarations
  // in it (";;"), which browsers skip.
  std::size_t skip_empty_declarations(std::size_t pos) {
    pos = gap(pos);
    while (modern_ && at(pos, ';')) pos = gap(pos + 1);
    return pos;
  }

  std::optional<DeclarationMap> declaration_block(std::size_t& pos) {
    if (!at(pos, '{')) return std::nullopt;
    pending_.clear();
    std::optional<DeclarationMap> long_group;
    std::size_t next = skip_empty_declarations(pos + 1);
    while (true) {
      std::size_t after = skip_empty_declarations(next);
      if (!next_is_not(after, item_openers) || !declaration(after, pending_)) break;
      next = gap(after);
      spill_long_group(long_group, next);
    }
    next = skip_empty_declarations(next);
    if (!at(next, '}')) return std::nullopt;
    pos = next + 1;
    return take_group(long_group);
  }

  // A group of declarations is collected in pending_ first, so that its
  // map is sized once. pending_ serves every group, since one is read at a
  // time (a rule body flushes its group before a nested item). A long
  // group goes into its map long_list at a time instead, the map sized from
  // the semicolons before the next '}', so that it is neither held twice
  // nor regrown in pending_.
  void spill_long_group(std::optional<DeclarationMap>& long_group, std::size_t pos) {
    if (pending_.size() < long_list) return;
    if (!long_group) {
      long_group.emplace(arena_);
      long_group->reserve(pending_.size() + separators_before(pos, ';', '}') + 1);
    }
    for (const Declaration& declaration : pending_) {
      long_group->insert(declaration.name, declaration.value);
    }
    pending_.clear();
  }

  // The group read so far as its map; pending_ is left empty.
  DeclarationMap take_group(std::optional<DeclarationMap>& long_group) {
    DeclarationMap declarations = long_group ? std::move(*long_group) : DeclarationMap(arena_);
    if (!long_group) declarations.reserve(pending_.size());
    long_group.reset();
    for (const Declaration& declaration : pending_) {
      declarations.insert(declaration.name, declaration.value);
    }
    pending_.clear();
    return declarations;
  }

  // A name or value that trims to nothing counts as missing: "color:\f;"
  // is as empty as "color:;", and printing it would not parse again.
  bool declaration(std::size_t& pos, std::vector<Declaration>& out) {
    const std::size_t name_start = gap(pos);
    const std::size_t name_end = declaration_name_end(name_start);
    const std::string_view name = trimmed(name_start, name_end);
    // What the trim uncovers must not be what no declaration may begin
    // with, or the printed block would not read back.
    if (name.empty() || item_openers.has(name.front()) || !at(name_end, ':')) return false;
    const std::size_t value_start = gap(name_end + 1);
    std::size_t value_end = declaration_value_end(value_start);
    // A custom property may be empty ("--x: ;"); no other may. In the
    // modern grammar its value may hold {} blocks ("--x:{a:b}").
    const bool custom = name.starts_with("--");
    while (modern_ && custom && at(value_end, '{')) {
      const std::size_t close = scanner_.block_end(value_end);
      if (close == npos) return false;
      value_end = declaration_value_end(close + 1);
    }
    const std::string_view value = trimmed(value_start, value_end);
    if (value.empty() && custom && !modern_) diverges_ = true;
    const bool may_be_empty = modern_ && custom;
    if ((value.empty() && !may_be_empty) || value_end == text_.size() || at(value_end, '{'))
      return false;
    pos = at(value_end, ';') ? value_end + 1 : value_end;
    out.push_back(Declaration{name, value});
    return true;
  }

  // Both grammars stop a declaration at a brace: a declaration read over
  // one is a nested rule misread ("&:hover{color:red}" or ".x{...}" taken
  // for a declaration, whose '{' then pairs with the wrong '}'), never
  // valid CSS, so the fixed grammar fails there and the modern one reads
  // the sheet.
  std::size_t declaration_name_end(std::size_t start) {
    return scanner_.scan_piece(start, nested_name_stops, Nesting::none);
  }

  // The modern scan tracks parentheses as the fixed one does, but gives up
  // at a brace inside them; only there does the fixed scan go on, over
  // the braces of an IE expression() or an unquoted url().
  std::size_t declaration_value_end(std::size_t start) {
    const std::size_t end =
        scanner_.scan_piece(start, nested_value_stops, Nesting::parentheses_in_block);
    if (modern_ || end < text_.size()) return end;
    diverges_ = true;
    return scanner_.scan_piece(start, declaration_value_stops, Nesting::parentheses);
  }

  std::optional<Item> style_rule(std::size_t& pos, std::size_t depth) {
    std::size_t next = pos;
    const std::optional<std::span<const Selector>> selectors = selector_list(next);
    if (!selectors) return std::nullopt;
    // Inside a block the modern grammar tries a rule's selectors as a
    // declaration first, and sorting them must not make that try succeed:
    // a ';' or '}' in them, which no valid selector holds, is refused.
    // Most selectors hold neither byte at all, which memchr tells fast.
    const std::string_view written = slice(pos, next);
    const bool declaration_like =
        depth > 0 && (written.find(';') != npos || written.find('}') != npos) &&
        scanner_.find_outside_strings(pos, next, declaration_value_stops) < next;
    if (modern_) {
      if (declaration_like) return std::nullopt;
      std::optional<RuleBody> body = rule_body(next, depth);
      if (!body) return std::nullopt;
      pos = next;
      return StyleRule{*selectors, std::move(body->declarations), std::move(body->items)};
    }
    if (declaration_like) diverges_ = true;
    std::optional<DeclarationMap> declarations = declaration_block(next);
    if (!declarations) return std::nullopt;
    pos = next;
    return StyleRule{*selectors, std::move(*declarations), {}};
  }

  // ---- The modern grammar's own rules ----

  // A block that may hold declarations, nested rules and nested at-rules:
  // the declarations before the first rule, then the rest in order.
  struct RuleBody {
    DeclarationMap declarations;
    std::vector<Item> items;
  };

  // The group read so far as a map: the leading declarations of the
  // body, or a group of their own after a nested rule.
  void flush_declarations(RuleBody& body, std::vector<Item>& items,
                          std::optional<DeclarationMap>& long_group) {
    if (pending_.empty() && !long_group) return;
    DeclarationMap declarations = take_group(long_group);
    if (items.empty()) {
      body.declarations = std::move(declarations);
    } else {
      items.push_back(DeclarationGroup{std::move(declarations)});
    }
  }

  // '{', then declarations and nested items in any order, '}'. Whatever
  // does not read as a declaration is read as an item; a '{' in it is what
  // tells the two apart. The depth limit holds for nested rules as for
  // @media: a block at the limit holds declarations only. pending_ holds
  // only the current group: it is flushed before a nested item is parsed,
  // so the nested bodies can use it too.
  std::optional<RuleBody> rule_body(std::size_t& pos, std::size_t depth) {
    if (!at(pos, '{')) return std::nullopt;
    RuleBody body;
    std::vector<Item>& collected = item_buffer(depth);
    pending_.clear();
    std::optional<DeclarationMap> long_group;
    std::size_t next = pos + 1;
    while (true) {
      next = skip_empty_declarations(next);
      if (at(next, '}')) break;
      std::size_t after = next;
      if (next_is_not(after, item_openers) && declaration(after, pending_)) {
        next = after;
        spill_long_group(long_group, next);
        continue;
      }
      if (depth >= max_nesting_depth) return std::nullopt;
      flush_declarations(body, collected, long_group);
      std::optional<Item> item = parse_item(next, depth + 1);
      if (!item) return std::nullopt;
      collected.push_back(std::move(*item));
      pending_.clear();
      // A ';' after a nested rule is kept: a browser that drops the rule
      // (its selector invalid) drops what follows up to the next ';' too.
      if (const std::size_t after_item = gap(next); at(after_item, ';')) {
        collected.push_back(OpaqueAtRule{slice(after_item, after_item + 1)});
      }
    }
    flush_declarations(body, collected, long_group);
    body.items = taken(collected);
    pos = next + 1;
    return body;
  }

  // A rule body as a list of items, its leading declarations first as a
  // group: the body of @media, @supports and AtRule.
  std::optional<std::vector<Item>> body_items(std::size_t& pos, std::size_t depth) {
    if (depth >= max_nesting_depth) return std::nullopt;
    std::optional<RuleBody> body = rule_body(pos, depth);
    if (!body) return std::nullopt;
    if (body->declarations.empty()) return std::move(body->items);
    std::vector<Item> items;
    items.reserve(body->items.size() + 1);
    items.push_back(DeclarationGroup{std::move(body->declarations)});
    for (Item& item : body->items) items.push_back(std::move(item));
    return items;
  }

  // Any at-rule the fixed kinds did not take: a statement, a block that is
  // parsed (is_parsed_at_rule), or a block kept as text.
  std::optional<Item> modern_at_rule(std::size_t& pos, std::size_t depth) {
    const std::size_t name_end = keyword_end(pos);
    if (name_end == pos + 1) return std::nullopt;
    const std::string_view written = slice(pos + 1, name_end);
    const std::string_view name = kept(written, ascii_lower(written));
    // These have rules of their own, which failed: reading them again
    // here would double the work at every level of nesting. Only @page
    // goes on, for its margin boxes.
    if (is_fixed_at_rule(name) || written == "charset") return std::nullopt;
    const std::size_t prelude_end =
        scanner_.scan_piece(name_end, at_rule_prelude_stops, Nesting::parentheses_in_block);
    if (prelude_end == text_.size() || at(prelude_end, '}')) return std::nullopt;
    const std::string_view written_prelude = slice(name_end, prelude_end);
    const std::string_view prelude = kept(written_prelude, collapse_space(written_prelude));
    // "@name prelude" as an opaque rule prints it.
    const auto opaque_head = [&] {
      std::string head = "@";
      head += written;
      if (!prelude.empty()) head += ' ';
      head += prelude;
      return head;
    };
    if (at(prelude_end, ';')) {
      pos = prelude_end + 1;
      return OpaqueAtRule{kept(slice(pos_of(written) - 1, pos), opaque_head() + ';')};
    }
    std::size_t next = prelude_end;
    if (is_parsed_at_rule(name)) {
      std::optional<std::vector<Item>> items = body_items(next, depth);
      if (!items) return std::nullopt;
      pos = next;
      return AtRule{name, prelude, std::move(*items)};
    }
    const std::size_t close = scanner_.block_end(next);
    if (close == npos) return std::nullopt;
    pos = close + 1;
    std::string text = opaque_head();
    text += '{';
    text += collapse_space(slice(next + 1, close));
    text += '}';
    return OpaqueAtRule{kept(slice(pos_of(written) - 1, pos), text)};
  }

  // Collected in selectors_, then stored in the arena at their size: no
  // list nests in a selector, so one buffer serves every list.
  std::optional<std::span<const Selector>> selector_list(std::size_t& pos) {
    std::size_t next = gap(pos);
    if (!next_is_not(next, item_openers)) return std::nullopt;
    selectors_.clear();
    if (starts_with_marker(next)) return std::nullopt;
    selectors_.push_back(selector(next));
    while (at(next, ',') && selectors_.size() < long_list) {
      ++next;
      if (starts_with_marker(next)) return std::nullopt;
      selectors_.push_back(selector(next));
    }
    if (!at(next, ',')) {
      pos = gap(next);
      return arena_->store(std::span<const Selector>(selectors_));
    }
    // A long list is built in the arena itself, in room counted from its
    // commas, so that it is neither regrown in memory not yet touched nor
    // copied once read. The vector's storage is the arena's: it outlives
    // the vector, and room outgrown stays behind in the arena.
    std::vector<Selector, ArenaAllocator<Selector>> list{ArenaAllocator<Selector>(arena_)};
    list.reserve(selectors_.size() + separators_before(next, ',', '{') + 1);
    list.assign(selectors_.begin(), selectors_.end());
    while (at(next, ',')) {
      ++next;
      if (starts_with_marker(next)) return std::nullopt;
      list.push_back(selector(next));
    }
    pos = gap(next);
    return std::span<const Selector>(list);
  }

  // A browser reads "<!--" and "-->" in a selector as tokens of their own,
  // which leave the rule invalid; the sort may move such an entry to the
  // front, where the text read back would start with a marker that the top
  // level skips, or move an empty entry before it. Such a list is not
  // taken, wherever the marker stands in it.
  bool starts_with_marker(std::size_t pos) {
    const std::size_t next = gap(pos);
    return starts_with(next, "<!--") || starts_with(next, "-->");
  }

  // How many more entries a long list may have: each `separator` before
  // the next `end` is at most one (one in a string or an argument is
  // none), which is room enough for most lists and at most an entry per
  // byte of the list. Counted only for lists longer than long_list, which
  // few are.
  std::size_t separators_before(std::size_t pos, char separator, char end) const {
    const std::string_view rest = text_.substr(pos);
    const std::string_view span = rest.substr(0, rest.find(end));
    // A plain loop, which the compiler turns into one over many bytes at
    // a time.
    std::size_t count = 0;
    for (const char c : span) count += c == separator ? 1 : 0;
    return count;
  }

  // Always matches, possibly nothing: "a,,b" has an empty middle entry.
  Selector selector(std::size_t& pos) {
    Selector result;
    pseudo_classes_.clear();
    std::size_t next = gap(pos);
    // Set when white space stood before the next pseudo-class's colon.
    bool space_pending = false;
    if (std::optional<SimpleSelector> simple = simple_selector(next, space_pending)) {
      result.simple = simple;
    }
    next = gap(next, &space_pending);
    while (true) {
      std::size_t after = next;
      std::optional<PseudoClass> pseudo = pseudo_class(after, space_pending);
      if (!pseudo) break;
      pseudo_classes_.push_back(*pseudo);
      next = after;
    }
    result.pseudo_classes = arena_->store(std::span<const PseudoClass>(pseudo_classes_));
    pos = gap(next);
    return result;
  }

  std::optional<SimpleSelector> simple_selector(std::size_t& pos, bool& space_after) {
    const auto take = [&](std::size_t start, SelectorKind kind) -> std::optional<SimpleSelector> {
      const std::size_t end = scanner_.scan_piece(start, selector_stops, Nesting::selector);
      const std::string_view raw = slice(start, end);
      const std::string_view text = trimmed(start, end);
      if (text.empty()) return std::nullopt;
      // The trim drops the space of "a :hover"; remember that it was
      // there, since it is a descendant combinator.
      space_after = trim_end(raw).size() != raw.size();
      pos = end;
      return SimpleSelector{kind, text};
    };
    std::optional<SimpleSelector> simple;
    if (at(pos, '#')) simple = take(pos + 1, SelectorKind::id);
    if (!simple && at(pos, '.')) simple = take(pos + 1, SelectorKind::class_);
    if (!simple) simple = take(pos, SelectorKind::tag);
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
    const std::size_t name_end = scanner_.scan_piece(next, pseudo_name_stops, Nesting::brackets);
    if (name_end == next) return std::nullopt;
    pseudo.name = slice(next, name_end);
    pseudo.space_before = space;
    next = gap(name_end);
    if (at(next, '(')) {
      // An unclosed argument would let the text after the selector,
      // which sorting changes, decide where it ends.
      const std::size_t close = scanner_.matching_parenthesis(next);
      if (close == npos) return std::nullopt;
      // "()" is no argument; it stays in the trailing text.
      if (close > next + 1) {
        pseudo.argument = slice(next + 1, close);
        next = close + 1;
      }
    }
    bool space_after = false;
    next = gap(next, &space_after);
    const std::size_t trailing_end = scanner_.scan_piece(next, selector_stops, Nesting::selector);
    if (trailing_end != next) {
      pseudo.trailing = slice(next, trailing_end);
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
  Arena* arena_;
  bool modern_ = false;
  bool diverges_ = false;
  std::size_t keyword_at_ = npos;
  std::size_t keyword_end_ = 0;
  // Lists up to this long are collected in selectors_ and pending_ before
  // they are stored; longer ones are sized by counting.
  static constexpr std::size_t long_list = 64;
  // item_buffer's lists, one per depth up to the limit (a rule at the
  // limit still has a body), all made at the start so that a nested
  // block's list never moves the outer ones.
  std::vector<std::vector<Item>> item_buffers_ =
      std::vector<std::vector<Item>>(max_nesting_depth + 1);
  std::vector<Declaration> pending_;
  std::vector<Selector> selectors_;
  std::vector<PseudoClass> pseudo_classes_;
};

}  // namespace

std::expected<void, ParseFailure> read_stylesheet(std::string_view text, Arena& arena,
                                                  SheetVisitor& visitor) {
  Parser parser(text, arena);
  std::size_t pos = 0;
  // Where the fixed grammar failed, once the modern one reads.
  std::size_t fixed_failure = 0;
  // Where the first item that the modern grammar might read otherwise
  // began: reading goes back there if the fixed grammar fails later.
  std::size_t checkpoint = npos;
  // Where a browser's tokenizer stands at pos, and at the checkpoint. A
  // raw line break ends a string for a browser, which then reads the text
  // after it, up to the next line break, otherwise than the parser does.
  // The items from the one holding such a string to the first that ends
  // where a browser's tokenizer stands outside every string and comment
  // are kept as written: what a browser makes of them is not what they
  // were read as, and only their bytes keep it.
  TokenState browser = TokenState::data;
  TokenState browser_at_checkpoint = TokenState::data;
  while (true) {
    if (parser.modern()) pos = parser.skip_markers(pos);
    std::size_t next = pos;
    std::optional<Item> item = parser.top_level_item(next);
    if (!item) {
      const std::size_t stop = parser.gap(pos);
      if (stop == text.size()) return {};
      // The later of the two stops: where the modern reading got past
      // the first construct the fixed grammar lacks, the fault is
      // further on.
      if (parser.modern()) return std::unexpected(ParseFailure{std::max(fixed_failure, stop)});
      fixed_failure = stop;
      parser.read_modern();
      if (checkpoint != npos) {
        visitor.rewind();
        pos = std::exchange(checkpoint, npos);
        browser = browser_at_checkpoint;
      }
      continue;
    }
    if (parser.take_divergence() && !parser.modern() && checkpoint == npos) {
      checkpoint = pos;
      browser_at_checkpoint = browser;
      visitor.checkpoint();
    }
    if (parser.take_broken_string() || browser != TokenState::data) {
      const std::string_view written = text.substr(pos, next - pos);
      const TokenWalk walk = walk_tokens(written, browser);
      if (walk.broken_string || browser != TokenState::data) *item = OpaqueAtRule{written};
      browser = walk.end;
    }
    pos = next;
    visitor.item(std::move(*item));
    visitor.read_past(std::min(checkpoint, pos));
  }
}

namespace {

class Collector final : public SheetVisitor {
 public:
  explicit Collector(std::vector<Item>& items) : items_(items) {}
  void item(Item&& item) override { items_.push_back(std::move(item)); }
  void checkpoint() override { mark_ = items_.size(); }
  void rewind() override { items_.resize(mark_); }

 private:
  std::vector<Item>& items_;
  std::size_t mark_ = 0;
};

}  // namespace

std::expected<Stylesheet, ParseFailure> parse_stylesheet(std::string_view text) {
  Stylesheet sheet;
  Collector collector(sheet.items);
  // The arena's chunks stay where they are when the sheet is moved out,
  // and so do the texts in them.
  if (auto read = read_stylesheet(text, sheet.arena, collector); !read) {
    return std::unexpected(read.error());
  }
  return sheet;
}

}  // namespace css
