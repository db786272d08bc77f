#pragma once
// One bundle job as the driver hands it to a build.

#include <string>
#include <string_view>
#include <vector>

#include "src/failure.h"
#include "src/platform/env.h"

namespace brelix {

struct Bundle {
  // Destinations, already expanded.
  std::string out;
  std::string out_debug;
  // Source paths in concatenation order, not yet expanded. The views refer
  // to catalogue or command-line texts, which outlive every build.
  std::vector<std::string_view> files;
  // Files appended after processing, not yet expanded.
  std::vector<std::string_view> extra;
  // Label printed at the head of every progress line.
  std::string_view name;
  bool append_extra = false;
  bool importer = false;

  // Expands out, then out_debug. If either cannot be expanded the result is
  // the fault "Could not expand path for file: " and the path as written
  // (its hint names the bundle). The lists come back empty and both
  // switches false. The variables are env's. Requires: name outlives the
  // bundle.
  static Result<Bundle> create(platform::Env& env, std::string_view name, std::string_view out,
                               std::string_view out_debug);
};

}  // namespace brelix
