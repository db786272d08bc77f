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

// The command-line value whose words replace a bundle's list, if any.
enum class ListOption { none, boot, list, extra };

// A bundle as its package builds it: the entry, and which values replace
// its two lists.
struct PackageBundle {
  const BundleEntry* entry;
  ListOption files;
  ListOption extra;
};

// A package: the flag that chooses it (its long form, its letter, its name
// in messages, its help) and its bundles in build order.
struct Package {
  std::string_view flag;
  char letter;
  std::string_view value_name;
  std::string_view help;
  std::span<const PackageBundle> bundles;
};

// In the order the driver tries them: the first package whose flag is
// given is built, so Ombril wins when both are. The command line declares
// the flags in this order.
extern const std::array<Package, 2> packages;

}  // namespace brelix::catalogue
