#pragma once
// The JavaScript bundle build: a debug bundle (the sources concatenated)
// and a release bundle (the same text minified by uglifyjs), assembled in
// the run's temporary directory and moved to their destinations at the end.

#include "src/bundle/build_steps.h"
#include "src/bundle/bundle.h"
#include "src/failure.h"

namespace brelix {

// Prints the bundle's progress lines. On failure neither destination has
// been touched, except that a failed second move leaves out_debug already
// replaced and out not.
Result<> build_js(const Bundle& bundle, const BuildContext& context);

}  // namespace brelix
