// What the command line prints, written out once for the unit tests of the
// parser and the black-box tests of the built program, so that a change to
// the help text or the usage-error layout is made in one place.

#ifndef BRELIX_TESTS_SUPPORT_EXPECTED_TEXTS_H
#define BRELIX_TESTS_SUPPORT_EXPECTED_TEXTS_H

#include <optional>
#include <string>
#include <string_view>

namespace brelix::testing {

// The help text as the program documents it, for the given program name.
inline std::string expected_help(std::string_view program) {
  return "Utility minify ombril / veltrano files\n"
         "\n"
         "Usage: " +
         std::string(program) +
         " [OPTIONS] [EXTRA]\n"
         "\n"
         "Arguments:\n"
         "  [EXTRA]  List of files to minify [default: ]\n"
         "\n"
         "Options:\n"
         "  -b, --boot <BOOT>  List of boot files to minify [default: ]\n"
         "  -l, --list <LIST>  List of files to minify [default: ]\n"
         "  -o, --ombril       minify ombril files\n"
         "  -v, --veltrano     minify veltrano files\n"
         "  -h, --help         Print help\n"
         "  -V, --version      Print version\n";
}

// A usage-error report in the documented layout, for the program brelix.
inline std::string expected_usage_error(std::string_view message,
                                        std::optional<std::string_view> tip,
                                        bool with_usage = true) {
  std::string out = "error: " + std::string(message) + "\n\n";
  if (tip) {
    out += "  tip: " + std::string(*tip) + "\n\n";
  }
  if (with_usage) {
    out += "Usage: brelix [OPTIONS] [EXTRA]\n\n";
  }
  return out + "For more information, try '--help'.\n";
}

}  // namespace brelix::testing

#endif  // BRELIX_TESTS_SUPPORT_EXPECTED_TEXTS_H
