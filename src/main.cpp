// The process entry: parse the command line, run the chosen package's
// bundles, and turn the outcome into the exit status.

#include "src/platform/platform.h"

int main(int argc, char** argv) {
  brelix::platform::initialise_process(argc, argv);
  brelix::platform::exit_process(0);
}
