#pragma once
// The operating-system side of test worlds: one POSIX and one Win32 file.

#include <map>
#include <string>
#include <vector>

#include "tests/support/world.h"

namespace brelix::testing {

std::map<std::string, std::string> current_environment();
// The running test program's own path.
std::string self_path();
// A path as the platform writes it (backslashes on Windows).
std::string native_path(const std::string& path);
// Runs the program with exactly this environment; standard output and
// error go to capture + ".out" / ".err" and are read back.
RunResult spawn_and_wait(const std::string& executable, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, const RunOptions& options,
                         const std::string& capture);

}  // namespace brelix::testing
