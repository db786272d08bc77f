#include "src/catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "src/bundle/expand_path.h"

namespace brelix {
namespace {

using catalogue::BundleEntry;

std::size_t count_if_path(std::span<const std::string_view> list, auto predicate) {
  std::size_t n = 0;
  for (std::string_view path : list) n += predicate(path) ? 1u : 0u;
  return n;
}

std::size_t segments_after(std::string_view path, std::string_view prefix) {
  if (!path.starts_with(prefix)) return 0;
  path.remove_prefix(prefix.size());
  std::size_t n = 1;
  for (char c : path) n += c == '/' ? 1 : 0;
  return n;
}

TEST(Catalogue, BundlesInBuildOrderWithTheirSwitches) {
  struct Expected {
    const BundleEntry* entry;
    std::string_view name;
    catalogue::Build build;
    bool append_extra;
    bool importer;
  };
  const std::vector<Expected> expected = {
      {&catalogue::ombril_ux, "Ombril - ux", catalogue::Build::javascript, false, false},
      {&catalogue::ombril_system, "Ombril - system", catalogue::Build::javascript, false, false},
      {&catalogue::veltrano_boot, "Veltrano - boot", catalogue::Build::javascript, true, true},
      {&catalogue::veltrano_system, "Veltrano - system", catalogue::Build::javascript, true, false},
      {&catalogue::veltrano_css, "Veltrano - css", catalogue::Build::css, true, false},
  };
  ASSERT_EQ(catalogue::all_bundles.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const BundleEntry& entry = *catalogue::all_bundles[i];
    EXPECT_EQ(&entry, expected[i].entry) << i;
    EXPECT_EQ(entry.name, expected[i].name);
    EXPECT_EQ(entry.build, expected[i].build) << entry.name;
    EXPECT_EQ(entry.append_extra, expected[i].append_extra) << entry.name;
    EXPECT_EQ(entry.importer, expected[i].importer) << entry.name;
  }
}

TEST(Catalogue, OutputsExpandUnderTheRootOrBesideIt) {
  const PathEnvironment environment{
      [](std::string_view name) {
        platform::EnvValue value;
        if (name == "VTPATH") {
          value.state = platform::EnvValue::State::present;
          value.value = "/srv/vt";
        }
        return value;
      },
      [] { return std::optional<std::string>("/home/nobody"); },
  };
  struct Expected {
    const BundleEntry* entry;
    std::string_view out;
    std::string_view out_debug;
  };
  const std::vector<Expected> expected = {
      {&catalogue::ombril_ux, "/srv/vt/../ombril/app/ux.js", "/srv/vt/../ombril/app/ux-debug.js"},
      {&catalogue::ombril_system, "/srv/vt/../ombril/app/system.js",
       "/srv/vt/../ombril/app/system-debug.js"},
      {&catalogue::veltrano_boot, "/srv/vt/system-boot.js", "/srv/vt/system-boot-debug.js"},
      {&catalogue::veltrano_system, "/srv/vt/system.js", "/srv/vt/system-debug.js"},
      {&catalogue::veltrano_css, "/srv/vt/system-styles.css", "/srv/vt/system-styles-debug.css"},
  };
  for (const Expected& e : expected) {
    auto out = expand_path(e.entry->out, environment);
    auto out_debug = expand_path(e.entry->out_debug, environment);
    ASSERT_TRUE(out && out_debug) << e.entry->name;
    EXPECT_EQ(out->view(), e.out);
    EXPECT_EQ(out_debug->view(), e.out_debug);
  }
}

TEST(Catalogue, ListsHaveTheirCountsAndForms) {
  using catalogue::ombril_system;
  using catalogue::ombril_ux;
  using catalogue::veltrano_boot;
  using catalogue::veltrano_css;
  using catalogue::veltrano_system;
  auto is_min_js = [](std::string_view p) { return p.ends_with(".min.js"); };

  ASSERT_EQ(ombril_ux.files.size(), 34u);
  EXPECT_TRUE(ombril_ux.extra.empty());
  for (std::string_view p : ombril_ux.files) {
    const std::size_t n = segments_after(p, "$VTPATH/../ombril/app/ux/");
    EXPECT_TRUE(n >= 2 && n <= 4 && p.ends_with(".js")) << p;
  }

  ASSERT_EQ(ombril_system.files.size(), 12u);
  EXPECT_TRUE(ombril_system.extra.empty());
  for (std::string_view p : ombril_system.files) {
    bool in_folder = false;
    for (std::string_view folder : {"component/", "view/", "util/", "controller/"}) {
      in_folder |= segments_after(p, std::string("$VTPATH/../ombril/app/").append(folder)) == 1;
    }
    EXPECT_TRUE(in_folder && p.ends_with(".js")) << p;
  }
  EXPECT_EQ(ombril_system.files[10], "$VTPATH/../ombril/app/controller/Main.js");
  EXPECT_EQ(ombril_system.files[11], "$VTPATH/../ombril/app/view/Main.js");

  ASSERT_EQ(veltrano_boot.files.size(), 43u);
  EXPECT_TRUE(veltrano_boot.extra.empty());
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(segments_after(veltrano_boot.files[i], "$VTPATH/app/util/"), 1u)
        << veltrano_boot.files[i];
    EXPECT_TRUE(is_min_js(veltrano_boot.files[i]));
  }
  EXPECT_EQ(segments_after(veltrano_boot.files[2], "$VTPATH/"), 1u) << veltrano_boot.files[2];
  EXPECT_EQ(count_if_path(veltrano_boot.files, is_min_js), 2u);
  for (std::size_t i = 3; i < veltrano_boot.files.size(); ++i) {
    EXPECT_TRUE(veltrano_boot.files[i].starts_with("$VTPATH/app/") &&
                veltrano_boot.files[i].ends_with(".js"));
  }

  ASSERT_EQ(veltrano_system.files.size(), 248u);
  EXPECT_EQ(count_if_path(veltrano_system.files,
                          [](std::string_view p) { return p.starts_with("$VTPATH/app/ux/"); }),
            195u);
  EXPECT_EQ(count_if_path(veltrano_system.files,
                          [](std::string_view p) { return p.starts_with("$VTPATH/app/"); }),
            248u);
  EXPECT_EQ(count_if_path(veltrano_system.files, is_min_js), 3u);
  ASSERT_EQ(veltrano_system.extra.size(), 1u);
  EXPECT_EQ(segments_after(veltrano_system.extra[0], "$VTPATH/app/util/"), 1u);
  EXPECT_TRUE(is_min_js(veltrano_system.extra[0]));

  ASSERT_EQ(veltrano_css.files.size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) {
    const std::string_view p = veltrano_css.files[i];
    EXPECT_TRUE(p.ends_with(".css") && !p.ends_with(".min.css")) << p;
    if (i < 3) {
      EXPECT_EQ(segments_after(p, "$VTPATH/"), 1u) << p;
    } else {
      EXPECT_GE(segments_after(p, "$VTPATH/app/"), 2u) << p;
    }
  }
  ASSERT_EQ(veltrano_css.extra.size(), 2u);
  EXPECT_TRUE(veltrano_css.extra[0].starts_with("$VTPATH/../ext-6.6.0/build/"));
  EXPECT_TRUE(veltrano_css.extra[0].ends_with(".css"));
  EXPECT_TRUE(veltrano_css.extra[1].starts_with("$VTPATH/app/ux/"));
  EXPECT_TRUE(veltrano_css.extra[1].ends_with(".min.css"));
}

TEST(Catalogue, NoPathTwiceAndAllRootedInVtpath) {
  std::set<std::string_view> seen;
  for (const BundleEntry* entry : catalogue::all_bundles) {
    for (auto list : {entry->files, entry->extra}) {
      for (std::string_view p : list) {
        EXPECT_TRUE(seen.insert(p).second) << "twice: " << p;
        EXPECT_TRUE(p.starts_with("$VTPATH/")) << p;
        EXPECT_EQ(p.find('\\'), std::string_view::npos) << p;
        EXPECT_EQ(p.find('$', 1), std::string_view::npos) << p;
      }
    }
    for (std::string_view out : {entry->out, entry->out_debug}) {
      EXPECT_TRUE(out.starts_with("$VTPATH/")) << out;
    }
    // The debug output is the release output with "-debug" before the
    // extension.
    const std::size_t dot = entry->out.rfind('.');
    EXPECT_EQ(
        entry->out_debug,
        std::string(entry->out.substr(0, dot)).append("-debug").append(entry->out.substr(dot)));
  }
}

// The package table: which flag chooses which bundles, in which order, and
// which command-line value replaces which of their lists.
TEST(Catalogue, PackagesAndWhichValueReplacesWhichList) {
  using catalogue::ListOption;
  struct Expected {
    std::string_view flag;
    char letter;
    std::string_view value_name;
    std::vector<std::tuple<std::string_view, ListOption, ListOption>> bundles;
  };
  const Expected expected[] = {
      {"ombril",
       'o',
       "OMBRIL",
       {{"Ombril - ux", ListOption::list, ListOption::none},
        {"Ombril - system", ListOption::extra, ListOption::none}}},
      {"veltrano",
       'v',
       "VELTRANO",
       {{"Veltrano - boot", ListOption::boot, ListOption::none},
        {"Veltrano - system", ListOption::list, ListOption::extra},
        {"Veltrano - css", ListOption::none, ListOption::none}}},
  };
  ASSERT_EQ(catalogue::packages.size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const catalogue::Package& package = catalogue::packages[i];
    EXPECT_EQ(package.flag, expected[i].flag);
    EXPECT_EQ(package.letter, expected[i].letter);
    EXPECT_EQ(package.value_name, expected[i].value_name);
    ASSERT_EQ(package.bundles.size(), expected[i].bundles.size()) << package.flag;
    for (std::size_t j = 0; j < package.bundles.size(); ++j) {
      const auto& [name, files, extra] = expected[i].bundles[j];
      EXPECT_EQ(package.bundles[j].entry->name, name);
      EXPECT_EQ(package.bundles[j].files, files) << name;
      EXPECT_EQ(package.bundles[j].extra, extra) << name;
    }
  }
}

}  // namespace
}  // namespace brelix
