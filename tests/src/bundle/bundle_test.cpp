#include "src/bundle/bundle.h"

#include <gtest/gtest.h>

namespace brelix {
namespace {

// Names no test world or developer sets, so that the lookups fail.
constexpr const char* unset_release = "$BRELIX_BUNDLE_TEST_UNSET_RELEASE/out.js";
constexpr const char* unset_debug = "$BRELIX_BUNDLE_TEST_UNSET_DEBUG/out-debug.js";

TEST(Bundle, StartsEmptyWithExpandedOutputs) {
  const Result<Bundle> created = Bundle::create("Label - part", "dist/a$$b.js", "dist/a$$b-debug.js");
  ASSERT_TRUE(created);
  const Bundle& bundle = *created;
  EXPECT_EQ(bundle.name, "Label - part");
  EXPECT_EQ(bundle.out, "dist/a$b.js");
  EXPECT_EQ(bundle.out_debug, "dist/a$b-debug.js");
  EXPECT_TRUE(bundle.files.empty());
  EXPECT_TRUE(bundle.extra.empty());
  EXPECT_FALSE(bundle.append_extra);
  EXPECT_FALSE(bundle.importer);
}

TEST(Bundle, UnexpandableOutputIsAFaultNamingThePathAsWritten) {
  struct Case {
    const char* out;
    const char* out_debug;
    const char* named;
  };
  // Both fail in the first case; the release path is expanded first, so it
  // is the one named.
  const Case cases[] = {
      {unset_release, unset_debug, unset_release},
      {"dist/out.js", unset_debug, unset_debug},
  };
  for (const Case& c : cases) {
    const Result<Bundle> created = Bundle::create("x", c.out, c.out_debug);
    ASSERT_FALSE(created) << c.named;
    EXPECT_TRUE(created.error().is_fault);
    EXPECT_EQ(created.error().message, std::string("Could not expand path for file: ") + c.named);
    EXPECT_EQ(created.error().hint,
              "brelix: the output of bundle 'x' names a variable that is not set or not valid Unicode");
  }
}

}  // namespace
}  // namespace brelix
