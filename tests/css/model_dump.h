#pragma once
// A compact, exact notation of a parsed model, so that parser tests can
// state the expected structure in one line. Texts are shown in <...> so
// that kept spaces are visible. A selector is its simple part (tag<t>,
// #<t>, .<t>) and its pseudo-classes (: or :: then <name>, then (<argument>),
// then +<trailing>); a '_' marks white space the model recorded before a
// colon or a trailing text.

#include <string>
#include <type_traits>
#include <variant>

#include "css/parser.h"

namespace css::testing {

inline std::string dump_declarations(const DeclarationMap& declarations) {
  std::string out = "{";
  bool first = true;
  for (const Declaration& declaration : declarations) {
    if (!first) out += ';';
    first = false;
    out += std::string(declaration.name) + ":" + std::string(declaration.value);
  }
  return out + "}";
}

inline std::string dump_selector(const Selector& selector) {
  std::string out;
  if (selector.simple) {
    switch (selector.simple->kind) {
      case SelectorKind::id:
        out += "#";
        break;
      case SelectorKind::class_:
        out += ".";
        break;
      case SelectorKind::tag:
        out += "tag";
        break;
    }
    out += "<" + std::string(selector.simple->text) + ">";
  }
  for (const PseudoClass& pseudo : selector.pseudo_classes) {
    if (pseudo.space_before) out += "_";
    out += pseudo.double_colon ? "::" : ":";
    out += "<" + std::string(pseudo.name) + ">";
    if (!pseudo.argument.empty()) out += "(<" + std::string(pseudo.argument) + ">)";
    if (!pseudo.trailing.empty())
      out += (pseudo.space_before_trailing ? "_+<" : "+<") + std::string(pseudo.trailing) + ">";
  }
  return out;
}

inline std::string dump_items(const std::vector<Item>& items);

inline std::string dump_item(const Item& item) {
  return std::visit(
      [](const auto& rule) -> std::string {
        using Rule = std::decay_t<decltype(rule)>;
        if constexpr (std::is_same_v<Rule, StyleRule>) {
          std::string out = "style[";
          for (std::size_t i = 0; i < rule.selectors.size(); ++i) {
            if (i > 0) out += ",";
            out += dump_selector(rule.selectors[i]);
          }
          out += "]" + dump_declarations(rule.declarations);
          if (!rule.items.empty()) out += "[" + dump_items(rule.items) + "]";
          return out;
        } else if constexpr (std::is_same_v<Rule, AtRule>) {
          return "at-" + std::string(rule.name) + "<" + std::string(rule.prelude) + ">[" +
                 dump_items(rule.items) + "]";
        } else if constexpr (std::is_same_v<Rule, OpaqueAtRule>) {
          return "opaque<" + std::string(rule.text) + ">";
        } else if constexpr (std::is_same_v<Rule, DeclarationGroup>) {
          return "group" + dump_declarations(rule.declarations);
        } else if constexpr (std::is_same_v<Rule, MediaRule>) {
          return "media<" + std::string(rule.query) + ">[" + dump_items(rule.items) + "]";
        } else if constexpr (std::is_same_v<Rule, SupportsRule>) {
          return "supports<" + std::string(rule.condition) + ">[" + dump_items(rule.items) + "]";
        } else if constexpr (std::is_same_v<Rule, PageRule>) {
          return "page" +
                 (rule.page_selector ? "<" + std::string(*rule.page_selector) + ">"
                                     : std::string()) +
                 dump_declarations(rule.declarations);
        } else if constexpr (std::is_same_v<Rule, FontFaceRule>) {
          return "font-face" + dump_declarations(rule.declarations);
        } else if constexpr (std::is_same_v<Rule, ViewportRule>) {
          return "viewport" + dump_declarations(rule.declarations);
        } else if constexpr (std::is_same_v<Rule, MsViewportRule>) {
          return "ms-viewport" + dump_declarations(rule.declarations);
        } else if constexpr (std::is_same_v<Rule, KeyframesRule>) {
          std::string out =
              (rule.webkit ? "webkit-keyframes<" : "keyframes<") + std::string(rule.name) + ">[";
          for (std::size_t i = 0; i < rule.frames.size(); ++i) {
            if (i > 0) out += " ";
            out += std::string(rule.frames[i].selector) +
                   dump_declarations(rule.frames[i].declarations);
          }
          return out + "]";
        } else {
          return std::visit(
              [](const auto& statement) -> std::string {
                using S = std::decay_t<decltype(statement)>;
                if constexpr (std::is_same_v<S, NamespaceRule>) {
                  return "namespace<" + std::string(statement.uri) + ">" +
                         (statement.prefix ? "prefix<" + std::string(*statement.prefix) + ">"
                                           : std::string());
                } else if constexpr (std::is_same_v<S, ImportRule>) {
                  return "import<" + std::string(statement.url) + ">" +
                         (statement.media ? "media<" + std::string(*statement.media) + ">"
                                          : std::string());
                } else {
                  return "charset<" + std::string(statement.value) + ">";
                }
              },
              rule.statement);
        }
      },
      item);
}

inline std::string dump_items(const std::vector<Item>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += " ";
    out += dump_item(items[i]);
  }
  return out;
}

// The dump of the parsed sheet, or "fail@N" with the failure offset.
inline std::string dump_parse(std::string_view text) {
  const auto parsed = parse_stylesheet(text);
  if (!parsed) return "fail@" + std::to_string(parsed.error().offset);
  return dump_items(parsed->items);
}

}  // namespace css::testing
