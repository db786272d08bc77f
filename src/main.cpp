// The process entry: parse the command line, run the chosen package's
// bundles, and turn the outcome into the exit status.

#include "src/api/run_directory.h"
#include "src/command_line.h"
#include "src/driver.h"
#include "src/failure.h"
#include "src/platform/platform.h"

namespace {

constexpr int success_status = 0;
constexpr int failure_status = 1;

}  // namespace

int main(int argc, char** argv) {
  using namespace brelix;
  platform::initialise_process(argc, argv);
  // Help, version and usage errors end the process inside parse.
  const Arguments arguments = Arguments::parse();
  const Result<> outcome = run(arguments);
  int status = success_status;
  if (!outcome) {
    // A report that cannot be written leaves only the status to tell.
    (void)platform::write(platform::Stream::error, format_failure_report(outcome.error()));
    status = failure_status;
  }
  // Only after the report: a fault never gets here, so what a fault left in
  // the run's directory stays to be looked at.
  remove_run_directory();
  (void)platform::flush(platform::Stream::output);
  (void)platform::flush(platform::Stream::error);
  platform::exit_process(status);
}
