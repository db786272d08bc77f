#include "src/bundle/bundle.h"

#include <gtest/gtest.h>

namespace brelix {
namespace {

constexpr const char* unset_release = "$BRELIX_BUNDLE_TEST_UNSET_RELEASE/out.js";
constexpr const char* unset_debug = "$BRELIX_BUNDLE_TEST_UNSET_DEBUG/out-debug.js";

// An environment that holds DEST alone, whatever the process's holds.
struct OnlyDest : platform::EnvWrapper {
  OnlyDest() : EnvWrapper(platform::default_env()) {}
  platform::EnvValue environment_variable(std::string_view name) override {
    platform::EnvValue value;
    if (name == "DEST") {
      value.state = platform::EnvValue::State::present;
      value.value = "/srv/dest";
    }
    return value;
  }
};

TEST(Bundle, StartsEmptyWithExpandedOutputs) {
  OnlyDest env;
  const Result<Bundle> created =
      Bundle::create(env, "Label - part", "$DEST/a$$b.js", "${DEST}/a$$b-debug.js");
  ASSERT_TRUE(created);
  const Bundle& bundle = *created;
  EXPECT_EQ(bundle.name, "Label - part");
  EXPECT_EQ(bundle.out, "/srv/dest/a$b.js");
  EXPECT_EQ(bundle.out_debug, "/srv/dest/a$b-debug.js");
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
    OnlyDest env;
    const Result<Bundle> created = Bundle::create(env, "x", c.out, c.out_debug);
    ASSERT_FALSE(created) << c.named;
    EXPECT_TRUE(created.error().is_fault);
    EXPECT_EQ(created.error().message, std::string("Could not expand path for file: ") + c.named);
    EXPECT_EQ(
        created.error().hint,
        "brelix: the output of bundle 'x' names a variable that is not set or not valid Unicode");
  }
}

}  // namespace
}  // namespace brelix
