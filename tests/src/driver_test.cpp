#include "src/driver.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "tests/support/world.h"

#include "unicode/utf8.h"

namespace brelix {
namespace {

using Words = std::vector<std::string_view>;

// Text with the character c between the pieces. Built by appending: GCC 12
// at -O3 warns falsely about chains of string additions.
std::string around(std::initializer_list<std::string_view> pieces, char32_t c) {
  std::string out;
  bool first = true;
  for (std::string_view piece : pieces) {
    if (!first) unicode::append_utf8(out, c);
    out.append(piece);
    first = false;
  }
  return out;
}

TEST(Words, SplitAtRunsOfWhiteSpace) {
  struct Case {
    std::string text;
    Words expected;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {" \t\n ", {}},
      {"a.js", {"a.js"}},
      {"a.js  b.js", {"a.js", "b.js"}},
      {"  a.js\tb.js\r\n", {"a.js", "b.js"}},
      {"$VTPATH/a.js ~/b.js", {"$VTPATH/a.js", "~/b.js"}},
      // Characters that look blank but are not White_Space stay in a word.
      {around({"a", "b"}, 0x200B),
       {"a\xE2\x80\x8B"
        "b"}},
      {around({"a", "b"}, 0x180E),
       {"a\xE1\xA0\x8E"
        "b"}},
      {"\xC3\xA9t\xC3\xA9 x", {"\xC3\xA9t\xC3\xA9", "x"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(words(c.text), c.expected) << c.text;
  }
}

TEST(Words, EveryWhiteSpaceCharacterSeparates) {
  std::vector<char32_t> separators = {0x09, 0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                      0xA0, 0x1680, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
  for (char32_t c = 0x2000; c <= 0x200A; ++c) separators.push_back(c);
  for (char32_t c : separators) {
    const std::string text = around({"a", "b", "", "c"}, c);
    EXPECT_EQ(words(text), (Words{"a", "b", "c"})) << std::hex << static_cast<unsigned>(c);
  }
}

TEST(Words, ViewIntoTheGivenText) {
  const std::string text = " one two";
  const Words found = words(text);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].data(), text.data() + 1);
}

Arguments arguments(bool ombril, bool veltrano, std::string boot = {}, std::string list = {},
                    std::string extra = {}) {
  Arguments a;
  a.boot = std::move(boot);
  a.list = std::move(list);
  a.extra = std::move(extra);
  a.ombril = ombril;
  a.veltrano = veltrano;
  return a;
}

std::vector<std::string_view> names(std::span<const catalogue::PackageBundle> steps) {
  std::vector<std::string_view> out;
  for (const catalogue::PackageBundle& step : steps) out.push_back(step.entry->name);
  return out;
}

TEST(Driver, ChoosesThePackage) {
  const Words ombril = {"Ombril - ux", "Ombril - system"};
  const Words veltrano = {"Veltrano - boot", "Veltrano - system", "Veltrano - css"};
  EXPECT_EQ(names(package_bundles(arguments(true, false))), ombril);
  EXPECT_EQ(names(package_bundles(arguments(true, true))), ombril);
  EXPECT_EQ(names(package_bundles(arguments(false, true))), veltrano);
  EXPECT_TRUE(package_bundles(arguments(false, false, "a.js", "b.js", "c.js")).empty());
}

TEST(Driver, RefusesARunWithoutAPackage) {
  RunDirectory directory(platform::default_env());
  const Result<> outcome = run(arguments(false, false, "boot.js", "list.js", "extra.js"),
                               BuildContext{platform::default_env(), directory});
  ASSERT_FALSE(outcome.has_value());
  EXPECT_FALSE(directory.path());
  EXPECT_EQ(outcome.error().message,
            "Need to choose a package to build, try --help to see help info");
  EXPECT_TRUE(outcome.error().causes.empty());
}

// Memory that runs out inside a build, wherever it does, is that bundle's
// failure, not the end of the process.
TEST(Driver, MemoryThatRunsOutIsTheBundlesFailure) {
  class NoMemory : public platform::EnvWrapper {
   public:
    explicit NoMemory(const testing::World& world)
        : EnvWrapper(platform::default_env()), world_(world) {}
    bool write(platform::Stream, std::string_view) override { return true; }
    platform::EnvValue environment_variable(std::string_view name) override {
      if (name != "VTPATH") return EnvWrapper::environment_variable(name);
      return {platform::EnvValue::State::present, world_.path("v"), {}};
    }
    std::optional<std::string> temporary_directory() override { return world_.path(""); }
    // The world has no destination folders; the build must reach its sources.
    Result<> check_folder_writable(std::string_view) override { return {}; }
    std::expected<std::string, platform::SourceFailure> read_regular_file(
        std::string_view) override {
      throw std::bad_alloc();
    }

   private:
    const testing::World& world_;
  };
  testing::World world;
  NoMemory env(world);
  RunDirectory directory(env);
  const Result<> outcome = run(arguments(true, false), BuildContext{env, directory});
  ASSERT_FALSE(outcome.has_value());
  EXPECT_EQ(outcome.error().message, "memory ran out while building Ombril - ux");
  EXPECT_FALSE(outcome.error().is_fault);
}

// The lists each bundle gets for a given command line: which option feeds
// which list, and when the catalogue's list stays.
TEST(Driver, OptionsReplaceTheirListsOnly) {
  struct Expected {
    Words files;
    Words extra;
  };
  auto lists_of = [](const Arguments& a) {
    std::vector<Expected> out;
    for (const catalogue::PackageBundle& step : package_bundles(a)) {
      out.push_back({choose_list(a, step.files, step.entry->files),
                     choose_list(a, step.extra, step.entry->extra)});
    }
    return out;
  };
  auto list = [](std::span<const std::string_view> l) { return Words(l.begin(), l.end()); };
  using namespace catalogue;

  struct Case {
    const char* what;
    Arguments args;
    std::vector<Expected> expected;
  };
  const std::vector<Case> cases = {
      {"veltrano defaults",
       arguments(false, true),
       {{list(veltrano_boot.files), {}},
        {list(veltrano_system.files), list(veltrano_system.extra)},
        {list(veltrano_css.files), list(veltrano_css.extra)}}},
      {"veltrano list replaces the system files",
       arguments(false, true, "", "a.js  b.js"),
       {{list(veltrano_boot.files), {}},
        {{"a.js", "b.js"}, list(veltrano_system.extra)},
        {list(veltrano_css.files), list(veltrano_css.extra)}}},
      {"veltrano boot and extra",
       arguments(false, true, "x.js", "", "e1.js e2.js"),
       {{{"x.js"}, {}},
        {list(veltrano_system.files), {"e1.js", "e2.js"}},
        {list(veltrano_css.files), list(veltrano_css.extra)}}},
      {"blank options are absent",
       arguments(false, true, " \t", "\t", "  "),
       {{list(veltrano_boot.files), {}},
        {list(veltrano_system.files), list(veltrano_system.extra)},
        {list(veltrano_css.files), list(veltrano_css.extra)}}},
      {"ombril list and extra; boot has no effect",
       arguments(true, true, "boot.js", "u.js", "s1.js s2.js"),
       {{{"u.js"}, {}}, {{"s1.js", "s2.js"}, {}}}},
      {"ombril defaults",
       arguments(true, false),
       {{list(ombril_ux.files), {}}, {list(ombril_system.files), {}}}},
  };
  for (const Case& c : cases) {
    const std::vector<Expected> got = lists_of(c.args);
    ASSERT_EQ(got.size(), c.expected.size()) << c.what;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].files, c.expected[i].files) << c.what << " #" << i;
      EXPECT_EQ(got[i].extra, c.expected[i].extra) << c.what << " #" << i;
    }
  }
}

}  // namespace
}  // namespace brelix
