#include "css/declaration_map.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <deque>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace css {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs contents(const DeclarationMap& map) {
  Pairs out;
  for (const Declaration& declaration : map) out.emplace_back(declaration.name, declaration.value);
  return out;
}

// The map holds views, as the model does: this keeps the texts a test
// inserts alive for the whole test.
class Texts {
 public:
  std::string_view keep(std::string text) { return texts_.emplace_back(std::move(text)); }

 private:
  std::deque<std::string> texts_;
};

// The texts of every map that build() makes, kept for the whole program:
// the tests build maps from temporary lists.
Texts& built_texts() {
  static Texts texts;
  return texts;
}

DeclarationMap build(const Pairs& inserts) {
  DeclarationMap map;
  for (const auto& [name, value] : inserts)
    map.insert(built_texts().keep(name), built_texts().keep(value));
  return map;
}

TEST(DeclarationMap, InsertKeepsOrderAndDropsOnlyExactRepeats) {
  struct Case {
    Pairs inserts;
    Pairs expected;
  };
  const std::vector<Case> cases{
      {{}, {}},
      {{{"color", "red"}, {"margin", "0"}, {"color", "blue"}},
       {{"color", "red"}, {"margin", "0"}, {"color", "blue"}}},
      {{{"x", "1"}, {"y", "2"}, {"x", "1"}}, {{"y", "2"}, {"x", "1"}}},
      {{{"x", "1"}, {"x", "1"}, {"x", "1"}}, {{"x", "1"}}},
      {{{"x", "1"}, {"x", "2"}, {"x", "1"}}, {{"x", "2"}, {"x", "1"}}},
      // Byte-equal only: case and spacing make a difference.
      {{{"x", "1"}, {"X", "1"}, {"x", "1 "}}, {{"x", "1"}, {"X", "1"}, {"x", "1 "}}},
      // Name and value are compared apart, not as one joined text.
      {{{"ab", "c"}, {"a", "bc"}}, {{"ab", "c"}, {"a", "bc"}}},
      {{{"", ""}, {"", ""}}, {{"", ""}}},
  };
  for (const Case& c : cases) {
    const DeclarationMap map = build(c.inserts);
    EXPECT_EQ(contents(map), c.expected);
    EXPECT_EQ(map.size(), c.expected.size());
    EXPECT_EQ(map.empty(), c.expected.empty());
  }
}

TEST(DeclarationMap, ValuesChangeInPlaceDuringIteration) {
  DeclarationMap map = build({{"font", "bold"}, {"color", "red"}, {"font", "700"}});
  for (Declaration& declaration : map) {
    if (declaration.value == "bold") declaration.value = "700";
  }
  EXPECT_EQ(contents(map), (Pairs{{"font", "700"}, {"color", "red"}, {"font", "700"}}));
  // The index follows the edit: the old text no longer matches, the new
  // one does, and only the latest equal entry goes.
  map.insert("font", "bold");
  map.insert("font", "700");
  EXPECT_EQ(contents(map),
            (Pairs{{"font", "700"}, {"color", "red"}, {"font", "bold"}, {"font", "700"}}));
}

TEST(DeclarationMap, RebuildingIntoANewMapAsThePassesDo) {
  const DeclarationMap old = build({{"COLOR", "#FFF"}, {"color", "#fff"}, {"Margin", "0"}});
  Texts texts;
  DeclarationMap rebuilt;
  for (const Declaration& declaration : old) {
    std::string name(declaration.name);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string value(declaration.value);
    for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    rebuilt.insert(texts.keep(std::move(name)), texts.keep(std::move(value)));
  }
  EXPECT_EQ(contents(rebuilt), (Pairs{{"color", "#fff"}, {"margin", "0"}}));
  EXPECT_EQ(contents(old).size(), 3u);
}

TEST(DeclarationMap, CopiesAndComparisons) {
  DeclarationMap a = build({{"x", "1"}, {"y", "2"}});
  DeclarationMap b = a;
  b.insert("x", "1");
  EXPECT_EQ(contents(a), (Pairs{{"x", "1"}, {"y", "2"}}));
  EXPECT_EQ(contents(b), (Pairs{{"y", "2"}, {"x", "1"}}));
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(b == build({{"y", "2"}, {"x", "1"}}));
  // Tombstones do not count.
  EXPECT_TRUE(build({{"z", "0"}, {"z", "0"}}) == build({{"z", "0"}}));
}

// Appends rather than `"p" + std::to_string(n)`, which GCC 12 at -O3 warns
// about falsely.
std::string numbered(char prefix, int n) {
  std::string text(1, prefix);
  text += std::to_string(n);
  return text;
}

TEST(DeclarationMap, ManyEntriesStayInOrder) {
  // Enough to force many index growths and tombstone compactions.
  Texts texts;
  DeclarationMap map;
  constexpr int count = 100000;
  for (int i = 0; i < count; ++i) {
    map.insert(texts.keep(numbered('p', i % 1000)), texts.keep(std::to_string(i % 3000)));
  }
  // Values repeat every 3000 inserts for the same name, so the survivors
  // are the last 3000 inserts, in insertion order.
  ASSERT_EQ(map.size(), 3000u);
  int expected = count - 3000;
  for (const Declaration& declaration : map) {
    EXPECT_EQ(declaration.name, numbered('p', expected % 1000));
    EXPECT_EQ(declaration.value, std::to_string(expected % 3000));
    ++expected;
  }
  EXPECT_EQ(expected, count);
}

// The map against a plain list that does what the contract says, over
// random inserts, in-place edits and repeat drops, at sizes on both sides
// of the point where the map starts to keep an index.
TEST(DeclarationMap, AgreesWithAPlainListAtEverySize) {
  std::mt19937 random(20261208);
  const auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  const auto text = [&](char prefix, int n) { return numbered(prefix, pick(n)); };

  // Removing the last equal entry: after edits two may be equal, and a
  // repeat replaces the later.
  const auto reference_insert = [](Pairs& list, std::string name, std::string value) {
    for (std::size_t i = list.size(); i-- > 0;) {
      if (list[i].first == name && list[i].second == value) {
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
    list.emplace_back(std::move(name), std::move(value));
  };

  for (int round = 0; round < 300; ++round) {
    Texts texts;
    DeclarationMap map;
    Pairs reference;
    // Up to 50 distinct declarations and 200 steps: enough for maps
    // that grow an index and then compact their tombstones.
    const int names = 1 + pick(10);
    const int values = 1 + pick(5);
    const int operations = pick(200);
    for (int step = 0; step < operations; ++step) {
      const int kind = pick(10);
      if (kind < 7 || reference.empty()) {
        std::string name = text('n', names);
        std::string value = text('v', values);
        map.insert(texts.keep(name), texts.keep(value));
        reference_insert(reference, std::move(name), std::move(value));
      } else if (kind < 9) {
        // Edit one entry in place, as the passes do.
        const std::size_t target =
            static_cast<std::size_t>(pick(static_cast<int>(reference.size())));
        std::string value = text('v', values);
        std::size_t index = 0;
        for (Declaration& declaration : map) {
          if (index++ == target) declaration.value = texts.keep(value);
        }
        reference[target].second = std::move(value);
      } else {
        map.drop_repeats();
        Pairs rebuilt;
        for (auto& [name, value] : reference)
          reference_insert(rebuilt, std::move(name), std::move(value));
        reference = std::move(rebuilt);
      }
      ASSERT_EQ(contents(map), reference) << "round " << round << ", step " << step;
      ASSERT_EQ(map.size(), reference.size());
    }
  }
}

}  // namespace
}  // namespace css
