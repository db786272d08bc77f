#pragma once
// The walk that both passes of the minifier share.

#include <functional>
#include <vector>

#include "css/model.h"

namespace css {

// Calls pass on every declaration map of the items, in source order and
// to any depth: style rules and the rules nested in them, the items of
// media, supports and other parsed at-rules, declaration groups, page,
// font-face and viewport rules, and every frame of a keyframes rule.
// At-rules kept as text are left alone.
// Selectors, queries, conditions, names, frame selectors and statements are
// left as they are, and so are the kinds and order of the items. The pass
// may change a map in place or replace it.
void walk_declaration_maps(std::vector<Item>& items,
                           const std::function<void(DeclarationMap&)>& pass);
// The same over one item and what it holds.
void walk_declaration_maps(Item& item, const std::function<void(DeclarationMap&)>& pass);

}  // namespace css
