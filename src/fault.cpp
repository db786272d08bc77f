#include "src/fault.h"

namespace brelix {

std::string format_fault(const Failure& failure) {
  std::string text;
  if (!failure.hint.empty()) {
    text.append(failure.hint);
    text.push_back('\n');
  }
  text.append(failure.message);
  text.push_back('\n');
  return text;
}

}  // namespace brelix
