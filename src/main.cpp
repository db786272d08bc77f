// The process entry: parse the command line, run the chosen package's
// bundles, and turn the outcome into what is printed and the exit status.
// Nothing below it ends the process (an interruption aside, which the
// platform layer's handler ends).

#include "src/bundle/run_directory.h"
#include "src/bundle/shared_cache.h"
#include "src/command_line.h"
#include "src/driver.h"
#include "src/failure.h"
#include "src/fault.h"
#include "src/platform/env.h"
#include "src/platform/platform.h"

namespace {

constexpr int success_status = 0;
constexpr int failure_status = 1;

[[noreturn]] void end_process(int status) {
  (void)brelix::platform::flush(brelix::platform::Stream::output);
  (void)brelix::platform::flush(brelix::platform::Stream::error);
  brelix::platform::exit_process(status);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace brelix;
  platform::initialise_process(argc, argv);
  const std::expected<Arguments, Report> arguments = Arguments::parse();
  if (!arguments) {
    // Help, version or a usage error. Nothing better can be done about a
    // text that cannot be written than to end with its status anyway.
    (void)platform::write(arguments.error().stream, arguments.error().text);
    end_process(arguments.error().status);
  }
  platform::Env& env = platform::default_env();
  RunDirectory directory(env);
  const Result<> outcome = run(*arguments, BuildContext{env, directory});
  print_cache_stats(env);
  if (!outcome && outcome.error().is_fault) {
    // What the fault left in the run's directory stays to be looked at.
    directory.keep();
    (void)platform::write(platform::Stream::error, format_fault(outcome.error()));
    end_process(fault_exit_status);
  }
  int status = success_status;
  if (!outcome) {
    // A report that cannot be written leaves only the status to tell.
    (void)platform::write(platform::Stream::error, format_failure_report(outcome.error()));
    status = failure_status;
  }
  // Only after the report, as the process ends.
  directory.remove();
  end_process(status);
}
