#include "src/api/bundle.h"

#include <gtest/gtest.h>

namespace brelix {
namespace {

// Names no test world or developer sets, so that the lookups fail.
constexpr const char* unset_release = "$BRELIX_BUNDLE_TEST_UNSET_RELEASE/out.js";
constexpr const char* unset_debug = "$BRELIX_BUNDLE_TEST_UNSET_DEBUG/out-debug.js";

TEST(Bundle, StartsEmptyWithExpandedOutputs) {
  const Bundle bundle = Bundle::create("Label - part", "dist/a$$b.js", "dist/a$$b-debug.js");
  EXPECT_EQ(bundle.name, "Label - part");
  EXPECT_EQ(bundle.out, "dist/a$b.js");
  EXPECT_EQ(bundle.out_debug, "dist/a$b-debug.js");
  EXPECT_TRUE(bundle.files.empty());
  EXPECT_TRUE(bundle.extra.empty());
  EXPECT_FALSE(bundle.append_extra);
  EXPECT_FALSE(bundle.importer);
}

TEST(BundleDeathTest, UnexpandableReleaseOutputIsAFaultNamingThePathAsWritten) {
  // Both fail; the release path is expanded first, so it is the one named.
  EXPECT_EXIT(Bundle::create("x", unset_release, unset_debug), ::testing::ExitedWithCode(101),
              "\nCould not expand path for file: .BRELIX_BUNDLE_TEST_UNSET_RELEASE/out\\.js\n");
}

TEST(BundleDeathTest, UnexpandableDebugOutputIsAFaultNamingTheDebugPath) {
  EXPECT_EXIT(Bundle::create("x", "dist/out.js", unset_debug), ::testing::ExitedWithCode(101),
              "Could not expand path for file: .BRELIX_BUNDLE_TEST_UNSET_DEBUG/out-debug\\.js\n");
}

}  // namespace
}  // namespace brelix
