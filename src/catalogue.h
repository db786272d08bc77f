#pragma once
// The package catalogue: the compiled-in description of the two packages,
// Ombril and Veltrano. For each bundle: its label, which build makes it,
// its release and debug outputs as written, its default source lists and
// its switches. Every path is rooted in $VTPATH and uses forward slashes;
// Ombril lives beside that root, under $VTPATH/../ombril/app/.
//
// The data is constant and lives for the whole run, so a Bundle may keep
// views of its texts.

#include <array>
#include <span>
#include <string_view>

namespace brelix::catalogue {

enum class Build { javascript, css };

struct BundleEntry {
  std::string_view name;
  Build build;
  std::string_view out;
  std::string_view out_debug;
  // The default lists, in concatenation and append order.
  std::span<const std::string_view> files;
  std::span<const std::string_view> extra;
  bool append_extra;
  bool importer;
};

// The bundles, each package's in build order.
extern const BundleEntry ombril_ux;
extern const BundleEntry ombril_system;
extern const BundleEntry veltrano_boot;
extern const BundleEntry veltrano_system;
extern const BundleEntry veltrano_css;

// Every bundle of both packages, Ombril's first, for whoever needs to walk
// the whole catalogue (the sample-project generator, the tests).
extern const std::array<const BundleEntry*, 5> all_bundles;

}  // namespace brelix::catalogue
