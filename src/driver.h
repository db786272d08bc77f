#pragma once
// The driver: chooses the package, creates each of its bundles from the
// catalogue and the command line's lists immediately before its build, and
// runs the builds one after the other.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "src/bundle/build_steps.h"
#include "src/catalogue.h"
#include "src/command_line.h"
#include "src/failure.h"

namespace brelix {

inline constexpr std::string_view no_package_message =
    "Need to choose a package to build, try --help to see help info";
// A build that ran out of memory (a source or a rule too large for it).
inline constexpr std::string_view out_of_memory_message = "memory ran out while building ";

// The text split at every run of Unicode white space, empty pieces dropped.
// The views point into text. Requires: text is valid UTF-8.
std::vector<std::string_view> words(std::string_view text);

// The chosen package's bundles in build order: Ombril when its flag is
// given (whatever else is), else Veltrano when its flag is, else none.
std::span<const catalogue::PackageBundle> package_bundles(const Arguments& arguments);

// The words of the option if there is at least one, else the catalogue's
// list; the words replace the list, they are never added to it.
std::vector<std::string_view> choose_list(const Arguments& arguments, catalogue::ListOption option,
                                          std::span<const std::string_view> catalogue_list);

// Builds the chosen package. Returns the first failure of a build, or the
// failure no_package_message when no package was chosen (then nothing is
// built). Memory that runs out in a build is that build's failure,
// out_of_memory_message and the bundle's label. An output path that cannot be expanded is a fault,
// returned only after the earlier bundles of the package have been written. The builds work through
// the context's system and assemble their outputs in its run directory, which the caller removes
// or, after a fault, keeps. Requires: arguments outlives the call (the bundles keep views of it).
Result<> run(const Arguments& arguments, const BuildContext& context);

}  // namespace brelix
