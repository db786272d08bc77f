#include "css/bytewise_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace css {
namespace {

// The standard comparison of string_view is the order promised. The texts
// are drawn so that bytes tie often: zero bytes against the end of a text,
// bytes above 0x7f, and long prefixes shared by many texts.
TEST(BytewiseSort, OrdersAsTheStandardComparisonDoes) {
  std::mt19937 random(7);
  const std::string alphabet("\0a\xff", 3);
  const std::vector<std::string> prefixes{"", std::string(40, 'a'), ".selector-", "b"};
  for (int round = 0; round < 200; ++round) {
    std::vector<std::string> owned;
    // Up to a few hundred, so that groups are split on bytes as well as
    // sorted by comparison.
    const int count = static_cast<int>(random() % 400);
    for (int i = 0; i < count; ++i) {
      std::string text = prefixes[random() % prefixes.size()];
      for (auto length = random() % 20; length > 0; --length) text += alphabet[random() % 3];
      owned.push_back(text);
    }
    std::vector<std::string_view> expected(owned.begin(), owned.end());
    std::vector<SortEntry> entries;
    for (const std::string_view text : expected) entries.push_back({0, text});
    std::ranges::sort(expected);
    sort_bytewise(entries);
    std::vector<std::string_view> sorted;
    for (const SortEntry& entry : entries) sorted.push_back(entry.text);
    ASSERT_EQ(sorted, expected) << "round " << round;
  }
}

}  // namespace
}  // namespace css
