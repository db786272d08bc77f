#include "src/api/minify_cache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brelix {
namespace {

using namespace std::string_literals;

struct KeyInput {
  std::string input = "var a = 1;\n";
  std::string release = "/tmp/brelix-x/out.js";
  std::string program = "uglifyjs";
  std::vector<std::string> arguments = {"/tmp/brelix-x/out.js", "-c", "toplevel", "-o", "/tmp/brelix-x/out.js"};
  std::string identity = "9:/bin/ugly3:1 2";
};

std::string key_of(const KeyInput& in) {
  const Result<std::string> key = minify_key(in.input, in.release, in.program, in.arguments, in.identity);
  EXPECT_TRUE(key.has_value());
  return key.value_or("");
}

TEST(MinifyCache, KeyChangesWithEverythingTheOutputDependsOnAndNothingElse) {
  const std::string base = key_of(KeyInput{});
  EXPECT_EQ(base.size(), 64u);
  struct Case {
    const char* what;
    void (*change)(KeyInput&);
    bool same;
  };
  const Case cases[] = {
      {"one byte of input", [](KeyInput& k) { k.input.back() = ' '; }, false},
      {"an argument", [](KeyInput& k) { k.arguments[2] = "sequences"; }, false},
      {"a field's end moved into the next",
       [](KeyInput& k) {
         k.program = "uglifyjs-";
         k.arguments[1] = "c";
       },
       false},
      {"the program", [](KeyInput& k) { k.program = "terser"; }, false},
      {"the minifier's identity", [](KeyInput& k) { k.identity = "9:/bin/ugly3:1 3"; }, false},
      {"another run's folder",
       [](KeyInput& k) {
         k.release = "/tmp/brelix-y/out.js";
         k.arguments = {k.release, "-c", "toplevel", "-o", k.release};
       },
       true},
  };
  for (const Case& c : cases) {
    KeyInput changed;
    c.change(changed);
    EXPECT_EQ(key_of(changed) == base, c.same) << c.what;
  }
}

TEST(MinifyCache, OnlyAWholeEntryOfThisVersionAndKeyGivesItsText) {
  const std::string key(64, 'a');
  const std::string text = "x=1;\n\0tail"s;
  const Result<std::string> entry = make_cache_entry(key, text);
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(cache_entry_text(*entry, key), std::optional<std::string_view>(text));
  EXPECT_EQ(cache_entry_text(*make_cache_entry(key, ""), key), std::optional<std::string_view>(""));

  const std::size_t text_start = entry->size() - text.size();
  struct Case {
    const char* what;
    std::string entry;
    std::string key;
  };
  std::string flipped = *entry;
  flipped[text_start] ^= 1;
  std::string other_version = *entry;
  other_version[other_version.find('\n') - 1] = '2';
  const Case cases[] = {
      {"empty file", "", key},
      {"truncated in the text", entry->substr(0, entry->size() - 1), key},
      {"truncated in the head", entry->substr(0, text_start - 3), key},
      {"a byte more", *entry + "!", key},
      {"a byte of the text changed", flipped, key},
      {"another format version", other_version, key},
      {"another key's entry under this name", *entry, std::string(64, 'b')},
      {"a foreign file", "var x = 1;\n", key},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cache_entry_text(c.entry, c.key), std::nullopt) << c.what;
  }
}

}  // namespace
}  // namespace brelix
