#include "src/api/build_css.h"

namespace brelix {

// Placeholder until the style-sheet build lands: refuse rather than claim
// a bundle was written.
Result<> build_css(const Bundle&) { return fail("the style-sheet bundle build is not available yet"); }

}  // namespace brelix
