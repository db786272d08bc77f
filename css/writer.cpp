#include "css/writer.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <type_traits>

#include "css/ascii.h"
#include "css/bytewise_sort.h"
#include "css/scanner.h"

namespace css {

namespace {

// Browsers accept these four pseudo-elements with one colon, so they keep
// the shorter form; every other "::" is printed as written, since
// "::selection" with one colon is an invalid selector.
constexpr std::array<std::string_view, 4> single_colon_elements{"before", "after", "first-line",
                                                                "first-letter"};

bool prints_one_colon(const PseudoClass& pseudo) {
  if (!pseudo.double_colon) return true;
  // "::after {" keeps its space in the name; it is still ::after.
  const std::string_view name = trim_end(pseudo.name);
  return std::ranges::any_of(single_colon_elements, [&](std::string_view element) {
    return equals_ascii_lower(name, element);
  });
}

// One space where the source had white space, but never a second one and
// never at the start of a selector.
void append_space(std::string& out, std::size_t selector_start) {
  if (out.size() > selector_start && !is_gap_space(out.back())) out += ' ';
}

void append_selector(std::string& out, const Selector& selector) {
  const std::size_t start = out.size();
  if (selector.simple) {
    if (selector.simple->kind == SelectorKind::id) out += '#';
    if (selector.simple->kind == SelectorKind::class_) out += '.';
    out += selector.simple->text;
  }
  for (const PseudoClass& pseudo : selector.pseudo_classes) {
    if (pseudo.space_before) append_space(out, start);
    out += prints_one_colon(pseudo) ? ":" : "::";
    out += pseudo.name;
    if (!pseudo.argument.empty()) {
      out += '(';
      out += pseudo.argument;
      out += ')';
    }
    if (!pseudo.trailing.empty()) {
      if (pseudo.space_before_trailing) append_space(out, start);
      out += pseudo.trailing;
    }
  }
}

// At least what append_selector prints: the parts, a '#' or '.', and per
// pseudo-class at most two colons, two parentheses and two spaces.
std::size_t printed_size_bound(const Selector& selector) {
  std::size_t size = 1 + (selector.simple ? selector.simple->text.size() : 0);
  for (const PseudoClass& pseudo : selector.pseudo_classes) {
    size += 6 + pseudo.name.size() + pseudo.argument.size() + pseudo.trailing.size();
  }
  return size;
}

void append_declarations(std::string& out, const DeclarationMap& declarations) {
  bool first = true;
  for (const Declaration& declaration : declarations) {
    if (!first) out += ';';
    first = false;
    out += declaration.name;
    out += ':';
    // "--x:;" is valid only since custom properties may be empty; the
    // space keeps it valid in the engines that require a token.
    if (declaration.value.empty()) out += ' ';
    out += declaration.value;
  }
}

void append_block(std::string& out, const DeclarationMap& declarations) {
  out += '{';
  append_declarations(out, declarations);
  out += '}';
}

void append_selector_list(std::string& out, std::span<const Selector> selectors) {
  // Most rules have one selector: nothing to sort.
  if (selectors.size() == 1) {
    append_selector(out, selectors.front());
    return;
  }
  // Each selector is printed once into one buffer, sized so that it never
  // moves (a long list would otherwise copy it into new memory as it
  // grows); the sort moves views.
  std::size_t bound = 0;
  for (const Selector& selector : selectors) bound += printed_size_bound(selector);
  std::string printed;
  printed.reserve(bound);
  std::vector<SortEntry> texts;
  texts.reserve(selectors.size());
  for (const Selector& selector : selectors) {
    const std::size_t start = printed.size();
    append_selector(printed, selector);
    texts.push_back({0, std::string_view(printed.data() + start, printed.size() - start)});
  }
  // The texts lie end to end, so they are pointed anew from their lengths:
  // right even if the bound were short and the buffer had moved.
  std::size_t at = 0;
  for (SortEntry& entry : texts) {
    entry.text = std::string_view(printed.data() + at, entry.text.size());
    at += entry.text.size();
  }
  sort_bytewise(texts);
  bool first = true;
  for (const SortEntry& entry : texts) {
    if (!first) out += ',';
    first = false;
    out += entry.text;
  }
}

void append_items(std::string& out, const std::vector<Item>& items);

void append_statement(std::string& out, const Statement& statement) {
  std::visit(
      [&](const auto& rule) {
        using Rule = std::decay_t<decltype(rule)>;
        if constexpr (std::is_same_v<Rule, NamespaceRule>) {
          out += "@namespace ";
          if (rule.prefix) {
            out += *rule.prefix;
            out += ' ';
          }
          out += rule.uri;
        } else if constexpr (std::is_same_v<Rule, ImportRule>) {
          out += "@import ";
          out += rule.url;
          if (rule.media) {
            out += ' ';
            out += *rule.media;
          }
        } else {
          out += "@charset ";
          out += rule.value;
        }
        out += ';';
      },
      statement);
}

void append_rule(std::string& out, const Item& item) {
  std::visit(
      [&](const auto& rule) {
        using Rule = std::decay_t<decltype(rule)>;
        if constexpr (std::is_same_v<Rule, StyleRule>) {
          append_selector_list(out, rule.selectors);
          if (rule.items.empty()) {
            append_block(out, rule.declarations);
          } else {
            out += '{';
            append_declarations(out, rule.declarations);
            if (!rule.declarations.empty()) out += ';';
            append_items(out, rule.items);
            out += '}';
          }
        } else if constexpr (std::is_same_v<Rule, AtRule>) {
          out += '@';
          out += rule.name;
          if (!rule.prelude.empty()) {
            out += ' ';
            out += rule.prelude;
          }
          out += '{';
          append_items(out, rule.items);
          out += '}';
        } else if constexpr (std::is_same_v<Rule, OpaqueAtRule>) {
          out += rule.text;
        } else if constexpr (std::is_same_v<Rule, DeclarationGroup>) {
          append_declarations(out, rule.declarations);
        } else if constexpr (std::is_same_v<Rule, MediaRule> ||
                             std::is_same_v<Rule, SupportsRule>) {
          if constexpr (std::is_same_v<Rule, MediaRule>) {
            out += "@media ";
            out += rule.query;
          } else {
            out += "@supports ";
            out += rule.condition;
          }
          out += '{';
          append_items(out, rule.items);
          out += '}';
        } else if constexpr (std::is_same_v<Rule, PageRule>) {
          out += "@page";
          if (rule.page_selector) {
            out += ' ';
            out += *rule.page_selector;
          }
          out += ' ';
          append_block(out, rule.declarations);
        } else if constexpr (std::is_same_v<Rule, FontFaceRule>) {
          out += "@font-face ";
          append_block(out, rule.declarations);
        } else if constexpr (std::is_same_v<Rule, ViewportRule>) {
          out += "@viewport ";
          append_block(out, rule.declarations);
        } else if constexpr (std::is_same_v<Rule, MsViewportRule>) {
          out += "@-ms-viewport ";
          append_block(out, rule.declarations);
        } else if constexpr (std::is_same_v<Rule, KeyframesRule>) {
          out += rule.webkit ? "@-webkit-keyframes " : "@keyframes ";
          out += rule.name;
          out += '{';
          for (const KeyframeBlock& frame : rule.frames) {
            out += frame.selector;
            append_block(out, frame.declarations);
          }
          out += '}';
        } else {
          append_statement(out, rule.statement);
        }
      },
      item);
}

// Nesting is bounded by the parser's depth limit, so this recursion is too.
// A group of declarations needs a ';' before whatever follows it.
void append_items(std::string& out, const std::vector<Item>& items) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    append_rule(out, items[i]);
    if (i + 1 < items.size() && std::holds_alternative<DeclarationGroup>(items[i])) out += ';';
  }
}

}  // namespace

void append_item(std::string& out, const Item& item) {
  append_rule(out, item);
}

std::string write_stylesheet(const Stylesheet& sheet, std::size_t expected_size) {
  std::string out;
  out.reserve(expected_size);
  append_items(out, sheet.items);
  return out;
}

std::string write_item(const Item& item) {
  std::string out;
  append_item(out, item);
  return out;
}

std::string write_selector_list(std::span<const Selector> selectors) {
  std::string out;
  append_selector_list(out, selectors);
  return out;
}

std::string write_declarations(const DeclarationMap& declarations) {
  std::string out;
  append_declarations(out, declarations);
  return out;
}

}  // namespace css
