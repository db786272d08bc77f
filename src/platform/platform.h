#pragma once
// The platform layer: every operating-system call the program makes goes
// through this header. There is one POSIX and one Win32 implementation
// beside it; nothing above this layer includes a system header or tests
// which platform it is built for.
//
// Texts cross this boundary as UTF-8. OS failures come back as a Failure
// whose message is the system's text for the error followed by
// " (os error N)", with no context added.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/failure.h"

namespace brelix::platform {

// ---- Process ---------------------------------------------------------------

// Call first thing in main, with main's own parameters: keeps the argument
// list (Windows reads the UTF-16 command line from the OS instead) and sets
// up what the rest relies on (on POSIX a closed standard output must be a
// write failure, not death by SIGPIPE).
void initialise_process(int argc, char** argv);

// The argument list, argument zero included. An argument that is not valid
// Unicode (POSIX: not UTF-8; Windows: an unpaired surrogate) is nullopt.
std::vector<std::optional<std::string>> arguments();

[[noreturn]] void exit_process(int status);

// The characters that separate the components of a path as the OS reads
// it: "/" on POSIX, both "\\" and "/" on Windows.
std::string_view path_separators();

// ---- Environment -----------------------------------------------------------

struct EnvValue {
  enum class State { present, not_present, not_unicode };
  State state = State::not_present;
  // The value when present.
  std::string value;
  // When not_unicode: the raw value in quoted diagnostic form, e.g. "a\xff"
  // (POSIX bytes) or "a\u{d800}" (Windows UTF-16 units), quotes included.
  std::string raw_quoted;
};

EnvValue environment_variable(std::string_view name);

// The user's home (profile) folder; nullopt when it cannot be determined or
// is not valid Unicode.
std::optional<std::string> home_directory();

// ---- Standard streams and console -------------------------------------------

enum class Stream { output, error };

// Writes all of text; false when the stream refused any of it.
bool write(Stream stream, std::string_view text);
// Flushes what the OS may still hold for the stream; false on failure.
bool flush(Stream stream);

// True when the stream is a console or terminal that shows colours and
// styles: not redirected, NO_COLOR unset, on POSIX TERM set and not "dumb",
// on Windows virtual-terminal processing could be enabled.
bool is_colour_console(Stream stream);

}  // namespace brelix::platform
