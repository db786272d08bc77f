// Builds one JavaScript bundle described on its command line, and ends as
// the program's own entry does, so black-box tests can reach every switch
// of a bundle without a catalogue entry for each:
//
//   build_js_runner NAME OUT OUT_DEBUG SWITCHES [FILE...] [-- EXTRA...]
//
// SWITCHES holds "i" for the importer and "e" for appending the extras, or
// is "-"; with "c" the bundle is built as a style sheet instead.

#include <string>
#include <string_view>
#include <vector>

#include "src/bundle/build_css.h"
#include "src/bundle/build_js.h"
#include "src/bundle/run_directory.h"
#include "src/bundle/shared_cache.h"
#include "src/fault.h"
#include "src/platform/platform.h"

int main(int argc, char** argv) {
  using namespace brelix;
  platform::initialise_process(argc, argv);
  std::vector<std::string> args;
  for (const auto& arg : platform::arguments()) args.push_back(arg.value_or(""));
  if (args.size() < 5) {
    (void)platform::write(
        platform::Stream::error,
        "usage: build_js_runner NAME OUT OUT_DEBUG SWITCHES FILE... -- EXTRA...\n");
    platform::exit_process(2);
  }
  Bundle bundle;
  bundle.name = args[1];
  bundle.out = args[2];
  bundle.out_debug = args[3];
  bundle.importer = args[4].find('i') != std::string::npos;
  bundle.append_extra = args[4].find('e') != std::string::npos;
  bool in_extra = false;
  for (std::size_t i = 5; i < args.size(); ++i) {
    if (args[i] == "--" && !in_extra) {
      in_extra = true;
    } else {
      (in_extra ? bundle.extra : bundle.files).push_back(args[i]);
    }
  }
  platform::Env& env = platform::default_env();
  RunDirectory directory(env);
  const BuildContext context{env, directory};
  const Result<> outcome = args[4].find('c') != std::string::npos ? build_css(bundle, context)
                                                                  : build_js(bundle, context);
  print_cache_stats(env);
  if (!outcome && outcome.error().is_fault) {
    directory.keep();
    (void)platform::write(platform::Stream::error, format_fault(outcome.error()));
    platform::exit_process(fault_exit_status);
  }
  directory.remove();
  if (!outcome) {
    (void)platform::write(platform::Stream::error, format_failure_report(outcome.error()));
    platform::exit_process(1);
  }
  platform::exit_process(0);
}
