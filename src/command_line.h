#pragma once
// The command line: the Arguments record the driver works from, and
// everything the program prints about its own usage (help, version, usage
// errors). Parsing is a pure function over a given argument list so that
// tests and the fuzz target can drive it; Arguments::parse() is the thin
// wrapper that reads the process's list.

#include <expected>
#include <optional>
#include <span>
#include <string>

#include "src/catalogue.h"
#include "src/emphasis.h"
#include "src/platform/platform.h"

namespace brelix {

// What ends the process instead of a run: the text to print, the stream it
// goes to and the exit status. The process entry prints it.
struct Report {
  platform::Stream stream = platform::Stream::error;
  std::string text;
  int status = 0;
};

struct Arguments {
  std::string boot;   // the boot option's value, else empty
  std::string list;   // the list option's value, else empty
  std::string extra;  // the positional value, else empty
  bool ombril = false;
  bool veltrano = false;

  // Parses the process's argument list, styled for the process's own
  // streams, as parse_arguments does.
  static std::expected<Arguments, Report> parse();
};

inline constexpr int help_status = 0;
inline constexpr int usage_error_status = 2;

// Whether the package's flag was given: Arguments holds the flags of the
// catalogue's two packages as `ombril` and `veltrano`, in its order.
bool flag_given(const Arguments& arguments, const catalogue::Package& package);

// The value that replaces a list, or nullptr for none.
const std::string* option_value(const Arguments& arguments, catalogue::ListOption option);

// Parses args (argument zero first; nullopt marks an argument that is not
// valid Unicode) left to right. Returns the record, or the report for
// help, version or the first usage error. The output styler emphasises
// help and version, the error styler usage errors. Runs in time linear in
// the total length of the arguments; never fails in any other way.
std::expected<Arguments, Report> parse_arguments(std::span<const std::optional<std::string>> args,
                                                 const Styler& output_styler,
                                                 const Styler& error_styler);

// The values parsing met, before defaults: nullopt for an argument that
// was not given.
struct ArgumentValues {
  std::optional<std::string> boot;
  std::optional<std::string> list;
  std::optional<std::string> extra;
  std::optional<bool> ombril;
  std::optional<bool> veltrano;
};

// Reads the values into the record in field order. Every value is present
// once the defaults are in, so the report for a missing one (status 2, on
// standard error, the command name as program name) is a guard against a
// default being lost, not a case a command line can reach.
std::expected<Arguments, Report> read_record(ArgumentValues values, const Styler& error_styler);

}  // namespace brelix
