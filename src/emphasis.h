#pragma once
// Terminal emphasis: help and error texts may be styled on a colour-capable
// console. The characters of the text are the same either way; only escape
// sequences around some pieces are added, and never when the stream is
// redirected.

#include <string>
#include <string_view>

#include "src/platform/platform.h"

namespace brelix {

enum class Emphasis {
  heading,  // "Usage:", "Options:", "Arguments:"
  literal,  // option names and the program name in usage lines
  error,    // the "error:" marker
  tip,      // the "tip:" marker
  valid,    // a suggested argument
  invalid,  // the offending argument
};

// Decides once per stream whether to style, then wraps pieces accordingly.
class Styler {
 public:
  explicit Styler(bool enabled) : enabled_(enabled) {}
  static Styler for_stream(platform::Stream stream);

  bool enabled() const { return enabled_; }
  // The text, wrapped in the escape sequences for the emphasis when enabled.
  std::string operator()(Emphasis emphasis, std::string_view text) const;

 private:
  bool enabled_;
};

}  // namespace brelix
