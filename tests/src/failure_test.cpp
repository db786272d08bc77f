#include "src/failure.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brelix {
namespace {

TEST(FailureReport, LaysOutMessageAndCauses) {
  struct Case {
    const char* what;
    Failure failure;
    std::string report;
  };
  const std::vector<Case> cases = {
      {"no causes", Failure::of("Need to choose a package"), "Error: Need to choose a package\n"},
      {"one cause",
       Failure::of("error looking key 'NOPE' up: environment variable not found",
                   {"environment variable not found"}),
       "Error: error looking key 'NOPE' up: environment variable not found\n"
       "\n"
       "Caused by:\n"
       "    environment variable not found\n"},
      {"one cause over lines", Failure::of("outer", {"first\nsecond\nthird"}),
       "Error: outer\n\nCaused by:\n    first\n    second\n    third\n"},
      {"several causes", Failure::of("outer", {"middle", "inner"}),
       "Error: outer\n\nCaused by:\n    0: middle\n    1: inner\n"},
      {"several causes over lines", Failure::of("outer", {"a\nb", "c"}),
       "Error: outer\n\nCaused by:\n    0: a\n       b\n    1: c\n"},
      {"an empty cause", Failure::of("outer", {""}), "Error: outer\n\nCaused by:\n    \n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(format_failure_report(c.failure), c.report) << c.what;
  }
}

TEST(FailureReport, RightAlignsIndicesInFiveColumns) {
  std::vector<std::string> causes(12, "x");
  const std::string report = format_failure_report(Failure::of("m", causes));
  EXPECT_NE(report.find("\n    9: x\n   10: x\n   11: x\n"), std::string::npos) << report;
}

}  // namespace
}  // namespace brelix
