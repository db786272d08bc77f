#include "src/api/bundle.h"

#include <string>
#include <utility>

#include "src/api/expand_path.h"
#include "src/fault.h"

namespace brelix {
namespace {

constexpr std::string_view unexpandable_output = "Could not expand path for file: ";

std::string expand_output(std::string_view name, std::string_view path) {
  auto expanded = expand_path(path);
  if (!expanded) {
    // The expansion's own message is not what the user sees here: the path
    // as written says which bundle and which variable in one line.
    std::string hint = "brelix: the output of bundle '";
    hint.append(name);
    hint.append("' names a variable that is not set or not valid Unicode");
    fault(std::string(unexpandable_output).append(path), hint);
  }
  return expanded->to_string();
}

}  // namespace

Bundle Bundle::create(std::string_view name, std::string_view out, std::string_view out_debug) {
  Bundle bundle;
  bundle.name = name;
  // Release first: when both fail, the release path is the one reported.
  bundle.out = expand_output(name, out);
  bundle.out_debug = expand_output(name, out_debug);
  return bundle;
}

}  // namespace brelix
