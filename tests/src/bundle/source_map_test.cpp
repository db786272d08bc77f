// The pieces of the source maps that the black-box tests cannot single
// out: the VLQ codec at its edges, which extra lines are dropped, and how
// a source's path is listed.

#include "src/bundle/source_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brelix::testing {
namespace {

TEST(SourceMap, MappingsReadAndWriteBack) {
  struct Case {
    const char* what;
    std::string text;
    Mappings expected;
  };
  const std::vector<Case> cases = {
      {"empty lines and a column alone", ";;C", {{}, {}, {{1, -1, 0, 0, -1}}}},
      {"fields relative to the segment before, columns per line",
       "AAAA,EAAEC;CADG",
       {{{0, 0, 0, 0, -1}, {2, 0, 0, 2, 1}}, {{1, 0, -1, 5, -1}}}},
      {"values of several digits and negative ones",
       "gBAAgB,DAAjB",
       {{{16, 0, 0, 16, -1}, {15, 0, 0, -1, -1}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<Mappings> read = decode_mappings(c.text);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, c.expected);
    EXPECT_EQ(encode_mappings(c.expected), c.text);
  }
  for (const char* bad : {"A!", "AA", "g", "AAAAAA"}) {
    EXPECT_FALSE(decode_mappings(bad)) << bad;
  }
}

TEST(SourceMap, OnlyTheExtrasOwnMapAndUrlLinesAreDropped) {
  EXPECT_EQ(drop_map_comments("a();\n//# sourceMappingURL=a.map\n  //@ sourceURL=a.js\n"
                              "// sourceMappingURL=kept\nx = '//# sourceMappingURL=kept';\n"
                              "//# sourceMappingURL=last.map"),
            "a();\n// sourceMappingURL=kept\nx = '//# sourceMappingURL=kept';\n");
}

TEST(SourceMap, SourcesAreListedFromTheOutputsFolder) {
  struct Case {
    const char* source;
    const char* output;
    const char* expected;
  };
  const Case cases[] = {
      {"/p/app/a.js", "/p/out/system.js", "../app/a.js"},
      {"/p/out/./a.js", "/p/out/system.js", "a.js"},
      {"app/a.js", "system.js", "app/a.js"},
      {"app/a.js", "/p/system.js", "app/a.js"},  // one relative: as it is
  };
  for (const Case& c : cases) {
    EXPECT_EQ(map_source_path(c.source, c.output), c.expected) << c.source;
  }
}

}  // namespace
}  // namespace brelix::testing
