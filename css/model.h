#pragma once
// The parsed style sheet. The model is shallow: preludes, selector parts
// and declaration values are kept as text; only a selector is split into a
// simple part and its pseudo-classes.
//
// Lifetime: every text of the model is a view. A text used as written
// points into the parsed input; a text the parser or a pass rewrote points
// into the style sheet's arena. So the input must outlive the model (the
// Stylesheet and everything taken out of it), and a model built in code
// must outlive nothing it points at. The whole model is released at once
// with its Stylesheet. The minifier builds no Stylesheet: it takes one
// top-level item at a time from read_stylesheet (parser.h) and resets its
// arena after each, so what a pass or the writer keeps of an item dies
// with it.
//
// What never changes after the parse (the selector lists and their
// pseudo-classes) sits in the arena as spans; what the passes edit (the
// declaration maps) and the item lists are vectors, one per block.

#include <algorithm>
#include <optional>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "css/arena.h"
#include "css/declaration_map.h"

namespace css {

struct Item;

enum class SelectorKind {
  id,      // written with a leading '#', which is not stored
  class_,  // written with a leading '.', which is not stored
  tag,     // anything else, whole compounds included ("ul li > a")
};

struct SimpleSelector {
  SelectorKind kind = SelectorKind::tag;
  std::string_view text;

  bool operator==(const SimpleSelector&) const = default;
};

struct PseudoClass {
  // Not trimmed: "a:hover {" keeps "hover " with its space.
  std::string_view name;
  // Text between '(' and its matching ')'; empty when there is none,
  // since "()" is no argument.
  std::string_view argument;
  // Text after the name or the ')', up to the next ',', '{' or ':'; not
  // trimmed; empty when there is none. Views rather than optionals: a
  // long selector list holds one of these per selector.
  std::string_view trailing;
  // "::" was written. Pseudo-elements need it, except the four that
  // browsers also accept with one colon.
  bool double_colon = false;
  // White space stood right before the colon, i.e. a descendant
  // combinator: ".a :not(.b)" is not ".a:not(.b)".
  bool space_before = false;
  // White space stood between the name or ')' and `trailing`:
  // ":not(.a) b" versus ":not([type])[readonly]".
  bool space_before_trailing = false;

  bool operator==(const PseudoClass&) const = default;
};

// One entry of a comma-separated selector list. Both parts may be absent
// at once ("a,,b" has an empty middle entry).
struct Selector {
  std::optional<SimpleSelector> simple;
  std::span<const PseudoClass> pseudo_classes;

  friend bool operator==(const Selector& a, const Selector& b) {
    return a.simple == b.simple && std::ranges::equal(a.pseudo_classes, b.pseudo_classes);
  }
};

struct KeyframeBlock {
  std::string_view selector;  // "from", "50%", "0%,100%", trimmed
  DeclarationMap declarations;
};

struct NamespaceRule {
  std::string_view uri;
  std::optional<std::string_view> prefix;

  bool operator==(const NamespaceRule&) const = default;
};

struct ImportRule {
  std::string_view url;
  std::optional<std::string_view> media;  // present and empty for "url ;"

  bool operator==(const ImportRule&) const = default;
};

struct CharsetRule {
  std::string_view value;

  bool operator==(const CharsetRule&) const = default;
};

using Statement = std::variant<NamespaceRule, ImportRule, CharsetRule>;

struct StyleRule {
  std::span<const Selector> selectors;
  // The declarations before the first nested rule.
  DeclarationMap declarations;
  // Nested rules and at-rules, and the declarations that follow them as
  // DeclarationGroup items, in source order. Empty unless the sheet uses
  // nesting.
  std::vector<Item> items;
};

struct MediaRule {
  std::string_view query;
  std::vector<Item> items;
};

struct PageRule {
  DeclarationMap declarations;
  std::optional<std::string_view> page_selector;
};

struct SupportsRule {
  std::string_view condition;
  std::vector<Item> items;
};

struct FontFaceRule {
  DeclarationMap declarations;
};

struct ViewportRule {
  DeclarationMap declarations;
};

struct MsViewportRule {
  DeclarationMap declarations;
};

struct KeyframesRule {
  std::string_view name;
  std::vector<KeyframeBlock> frames;
  bool webkit = false;  // written as "@-webkit-keyframes"
};

struct StatementRule {
  Statement statement;
};

// An at-rule whose block is parsed: "@layer base{...}", "@container
// card (width>40em){...}", "@property --x{...}", a page margin box. Its
// items hold rules, nested at-rules and DeclarationGroup items, so one kind
// serves at-rules that hold rules and those that hold declarations.
struct AtRule {
  std::string_view name;     // lower-case, without the '@'
  std::string_view prelude;  // white space collapsed; may be empty
  std::vector<Item> items;
};

// An at-rule kept as text, as it is printed: a statement ("@layer a,b;",
// any unknown "@name ...;"), or an at-rule of unknown name with its block,
// only white space and comments collapsed. The name keeps its case. Also
// any top-level item that a browser tokenizes otherwise than the parser
// reads it (a string broken by a line break), kept exactly as written.
struct OpaqueAtRule {
  std::string_view text;
};

// Declarations in a block that also holds rules: those after a nested rule
// are a group of their own, since their order against the rule matters, and
// every declaration of an AtRule's block. A group is never empty.
struct DeclarationGroup {
  DeclarationMap declarations;
};

using ItemVariant = std::variant<StyleRule, MediaRule, PageRule, SupportsRule, FontFaceRule,
                                 ViewportRule, MsViewportRule, KeyframesRule, StatementRule, AtRule,
                                 OpaqueAtRule, DeclarationGroup>;

// A struct rather than an alias so that media and supports rules can hold
// items before the variant is complete. std::visit, std::get and
// std::get_if take it like the variant itself.
struct Item : ItemVariant {
  using ItemVariant::ItemVariant;
  using ItemVariant::operator=;
};

struct Stylesheet {
  // The rewritten texts the items point at; declared first, so that it
  // goes last.
  Arena arena;
  std::vector<Item> items;
};

}  // namespace css
