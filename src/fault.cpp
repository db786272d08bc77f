#include "src/fault.h"

#include <string>

#include "src/platform/platform.h"

namespace brelix {

void fault(std::string_view message, std::string_view hint) {
  std::string text;
  if (!hint.empty()) {
    text.append(hint);
    text.push_back('\n');
  }
  text.append(message);
  text.push_back('\n');
  // Nothing is left to report a failed write to; the status says it all.
  (void)platform::write(platform::Stream::error, text);
  (void)platform::flush(platform::Stream::output);
  (void)platform::flush(platform::Stream::error);
  platform::exit_process(fault_exit_status);
}

}  // namespace brelix
