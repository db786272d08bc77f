#include "src/bundle/minify_cache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brelix {
namespace {

using namespace std::string_literals;

// What the black-box tests cannot vary: the arguments, the program, where
// one field ends, and the run's own folder, which must not count.
TEST(MinifyCache, KeyChangesWithTheArgumentsAndProgramButNotTheRunFolder) {
  struct Case {
    const char* what;
    std::string release, program;
    std::vector<std::string> arguments;
    bool same;
  };
  const Case cases[] = {
      {"an argument",
       "/t/a/out.js",
       "uglifyjs",
       {"/t/a/out.js", "-c", "sequences", "-o", "/t/a/out.js"},
       false},
      {"the program",
       "/t/a/out.js",
       "terser",
       {"/t/a/out.js", "-c", "toplevel", "-o", "/t/a/out.js"},
       false},
      {"a field's end moved into the next",
       "/t/a/out.js",
       "uglifyjs-",
       {"/t/a/out.js", "c", "toplevel", "-o", "/t/a/out.js"},
       false},
      {"another run's folder",
       "/t/b/out.js",
       "uglifyjs",
       {"/t/b/out.js", "-c", "toplevel", "-o", "/t/b/out.js"},
       true},
  };
  const std::vector<std::string> base = {"/t/a/out.js", "-c", "toplevel", "-o", "/t/a/out.js"};
  const Result<std::string> key = minify_key("a();", "/t/a/out.js", "uglifyjs", base, "identity");
  ASSERT_TRUE(key && key->size() == 64);
  for (const Case& c : cases) {
    EXPECT_EQ(
        minify_key("a();", c.release, c.program, c.arguments, "identity").value_or("") == *key,
        c.same)
        << c.what;
  }
}

// The formats stored entries were written in: a change must come with a
// new version, or an older run's entries would be read wrongly. The digests
// are sha256sum's of the texts spelled out here.
TEST(MinifyCache, KeyAndEntryAreTheStoredFormat) {
  const std::vector<std::string> arguments = {"/t/a/out.js", "-c"};
  // "brelix-minify-key 2\n8:uglifyjs214:<release file>2:-c8:identity4:a();"
  EXPECT_EQ(minify_key("a();", "/t/a/out.js", "uglifyjs", arguments, "identity").value_or(""),
            "af54a52e2c4f02c26431745995d3188c393e508364607d0e77bdd74873e00c8c");
  const std::string key(64, 'k');
  EXPECT_EQ(make_cache_entry(key, "x=1;\n").value_or(""),
            "brelix-minify-cache 1\n" + key +
                "\n5\n5a8b1ac6905b250e9d1952774a96414ff921a7f02161e591fe3ccff0fdd5b516\nx=1;\n");
}

TEST(MinifyCache, OnlyAWholeEntryOfThisVersionAndKeyGivesItsText) {
  const std::string key(64, 'a'), text = "x=1;\n\0tail"s;
  const std::string entry = make_cache_entry(key, text).value_or("");
  EXPECT_EQ(cache_entry_text(entry, key), std::optional<std::string_view>(text));
  std::string flipped = entry, other_version = entry;
  flipped[entry.size() - 2] ^= 1;
  other_version[entry.find('\n') - 1] = '2';
  const std::pair<const char*, std::string> cases[] = {
      {"a byte more", entry + "!"},
      {"a byte of the text changed", flipped},
      {"another format version", other_version},
      {"no head at all", "var x = 1;\n"},
  };
  for (const auto& [what, damaged] : cases)
    EXPECT_EQ(cache_entry_text(damaged, key), std::nullopt) << what;
  EXPECT_EQ(cache_entry_text(entry, std::string(64, 'b')), std::nullopt)
      << "another key's entry under this name";
}

// The size is read from the head alone, so nothing past it is read from a
// file that is not the entry it claims to be.
TEST(MinifyCache, AnEntrysSizeComesFromItsHead) {
  const std::string key(64, 'a'), head = "brelix-minify-cache 1\n" + key + "\n5\n" + key + "\n";
  EXPECT_EQ(cache_entry_size(head + "x=1;", key), std::optional<std::uint64_t>(159));
  EXPECT_EQ(cache_entry_size(head, key), std::optional<std::uint64_t>(159)) << "the head alone";
  const std::pair<const char*, std::string> cases[] = {
      {"the checksum line cut short", head.substr(0, head.size() - 1)},
      {"a length beyond any file",
       "brelix-minify-cache 1\n" + key + "\n18446744073709551615\n" + key + "\n"},
      {"a length that is no number", "brelix-minify-cache 1\n" + key + "\n5x\n" + key + "\n"},
  };
  for (const auto& [what, text] : cases)
    EXPECT_EQ(cache_entry_size(text, key), std::nullopt) << what;
  EXPECT_EQ(cache_entry_size(head, std::string(64, 'b')), std::nullopt) << "another key";
}

}  // namespace
}  // namespace brelix
