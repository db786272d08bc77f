#include "css/optimizations/walk.h"

#include <cstddef>
#include <span>
#include <type_traits>
#include <variant>

namespace css {

namespace {

void walk(std::span<Item> items, const std::function<void(DeclarationMap&)>& pass) {
  // An explicit stack rather than recursion: the parser limits nesting,
  // but a model built in code need not be so shallow.
  struct Level {
    std::span<Item> items;
    std::size_t next;
  };
  std::vector<Level> stack{{items, 0}};
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.items.size()) {
      stack.pop_back();
      continue;
    }
    Item& item = level.items[level.next++];
    std::vector<Item>* nested = nullptr;
    std::visit(
        [&](auto& rule) {
          using Rule = std::decay_t<decltype(rule)>;
          if constexpr (std::is_same_v<Rule, MediaRule> || std::is_same_v<Rule, SupportsRule> ||
                        std::is_same_v<Rule, AtRule>) {
            nested = &rule.items;
          } else if constexpr (std::is_same_v<Rule, StyleRule>) {
            pass(rule.declarations);
            nested = &rule.items;
          } else if constexpr (std::is_same_v<Rule, KeyframesRule>) {
            for (KeyframeBlock& frame : rule.frames) pass(frame.declarations);
          } else if constexpr (std::is_same_v<Rule, StatementRule> ||
                               std::is_same_v<Rule, OpaqueAtRule>) {
            // Statements hold no declarations; opaque text is kept.
          } else {
            pass(rule.declarations);
          }
        },
        static_cast<ItemVariant&>(item));
    // Pushed after the visit: `level` may dangle once the stack grows.
    if (nested != nullptr && !nested->empty()) stack.push_back({*nested, 0});
  }
}

}  // namespace

void walk_declaration_maps(std::vector<Item>& items,
                           const std::function<void(DeclarationMap&)>& pass) {
  walk(items, pass);
}

void walk_declaration_maps(Item& item, const std::function<void(DeclarationMap&)>& pass) {
  walk(std::span<Item>(&item, 1), pass);
}

}  // namespace css
