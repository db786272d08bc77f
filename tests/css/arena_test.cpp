#include "css/arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "css/declaration_map.h"
#include "css/parser.h"

namespace css {
namespace {

bool within(std::string_view piece, std::string_view text) {
  return piece.data() >= text.data() && piece.data() + piece.size() <= text.data() + text.size();
}

TEST(Arena, StoredPiecesStayAsTheyWereAcrossChunksAndMoves) {
  Arena arena;
  std::vector<std::pair<std::string, std::string_view>> stored;
  // Far past the first chunk, with pieces larger than a chunk between.
  for (int i = 0; i < 20000; ++i) {
    std::string text = i % 5000 == 0 ? std::string(5'000'000, static_cast<char>('a' + i % 26))
                                     : "piece " + std::to_string(i);
    const std::string_view view = arena.store(text);
    stored.emplace_back(std::move(text), view);
  }
  const std::vector<int> numbers{1, 2, 3};
  const std::span<const int> span = arena.store(std::span<const int>(numbers));
  Arena moved = std::move(arena);
  // The arena moved from starts again: its old chunks are the other's.
  const std::string_view in_old = arena.store("stored in the arena moved from");
  const std::string_view in_new = moved.store("stored in the arena moved to");
  EXPECT_EQ(in_old, "stored in the arena moved from");
  EXPECT_EQ(in_new, "stored in the arena moved to");
  for (const auto& [text, view] : stored) ASSERT_EQ(view, text);
  EXPECT_EQ(std::vector<int>(span.begin(), span.end()), numbers);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(span.data()) % alignof(int), 0u);
  EXPECT_TRUE(Arena().store(std::string_view()).empty());
}

TEST(Arena, AResetArenaStoresIntoTheMemoryItKept) {
  Arena arena;
  const char* first = arena.store("first").data();
  arena.reset();
  const std::string_view again = arena.store("again");
  EXPECT_EQ(again.data(), first);
  EXPECT_EQ(again, "again");
}

TEST(Arena, AMapCopiedOutOfTheArenaOutlivesIt) {
  DeclarationMap copy;
  {
    Arena arena;
    DeclarationMap map(&arena);
    map.reserve(2);
    map.insert("a", "1");
    map.insert("b", "2");
    copy = map;
  }
  // Under the address sanitizer a copy left in the arena is a read of
  // freed memory.
  copy.insert("c", "3");
  std::string text;
  for (const Declaration& declaration : copy)
    text += std::string(declaration.name) + std::string(declaration.value);
  EXPECT_EQ(text, "a1b2c3");
}

TEST(Arena, TheModelPointsIntoTheInputWhereTheTextIsUnchanged) {
  const std::string input = "a:hover,.b{color:red}@LAYER x{c{d:e}}@media  print{f{g:h}}";
  const auto parsed = parse_stylesheet(input);
  ASSERT_TRUE(parsed.has_value());
  const auto& rule = std::get<StyleRule>(parsed->items.at(0));
  EXPECT_TRUE(within(rule.selectors[0].simple->text, input));
  EXPECT_TRUE(within(rule.selectors[0].pseudo_classes[0].name, input));
  EXPECT_TRUE(within(rule.declarations.begin()->value, input));
  EXPECT_TRUE(within(std::get<MediaRule>(parsed->items.at(2)).query, input));
  // A rewritten text is the arena's: the modern reading lowers the name.
  const auto& layer = std::get<AtRule>(parsed->items.at(1));
  EXPECT_EQ(layer.name, "layer");
  EXPECT_FALSE(within(layer.name, input));
}

}  // namespace
}  // namespace css
