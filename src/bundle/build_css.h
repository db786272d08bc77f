#pragma once
// The style-sheet bundle build: a debug style sheet (the sources
// concatenated) and a release style sheet (the sources minified by the
// program's own CSS minifier), assembled in the run's temporary directory
// and moved to their destinations at the end.

#include "src/bundle/build_steps.h"
#include "src/bundle/bundle.h"
#include "src/failure.h"

namespace brelix {

// Prints the bundle's progress lines. A style sheet the minifier rejects is
// a fault; no destination is touched then.
Result<> build_css(const Bundle& bundle, const BuildContext& context);

}  // namespace brelix
