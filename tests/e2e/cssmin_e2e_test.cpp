// The cssmin tool reads a named file through a mapping and standard input
// into memory; both must print the same.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/world.h"

namespace brelix::testing {
namespace {

TEST(Cssmin, AFileAndStandardInputGiveTheSameBytes) {
  std::string large;
  while (large.size() < 200000) large += "a.b { color: #ffffff; margin: 0px 0.50em }\n";
  struct Case {
    const char* what;
    std::string sheet;
    int status;
  };
  const Case cases[] = {
      {"valid, many pages", large, 0},
      {"invalid UTF-8, read lossily", "p::after { content: \"\xff\xfe\"; color: #aabbcc }", 0},
      {"rejected", large + "\n}\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World world;
    world.write_file("sheet.css", c.sheet);
    const RunResult from_file = world.run("cssmin", {world.path("sheet.css")});
    RunOptions piped;
    piped.input = c.sheet;
    const RunResult from_input = world.run("cssmin", {"-"}, piped);
    EXPECT_EQ(from_file.status, c.status) << from_file.err;
    EXPECT_EQ(from_input.status, c.status) << from_input.err;
    EXPECT_EQ(from_file.out, from_input.out);
    EXPECT_EQ(from_file.err, from_input.err);
    EXPECT_FALSE((c.status == 0 ? from_file.out : from_file.err).empty());
  }
}

}  // namespace
}  // namespace brelix::testing
