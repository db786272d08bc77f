#include "src/bundle/bundle.h"

#include <string>
#include <utility>

#include "src/bundle/expand_path.h"

namespace brelix {
namespace {

constexpr std::string_view unexpandable_output = "Could not expand path for file: ";

Result<std::string> expand_output(platform::Env& env, std::string_view name,
                                  std::string_view path) {
  auto expanded = expand_path(path, PathEnvironment::of(env));
  if (!expanded) {
    // The expansion's own message is not what the user sees here: the path
    // as written says which bundle and which variable in one line.
    std::string hint = "brelix: the output of bundle '";
    hint.append(name);
    hint.append("' names a variable that is not set or not valid Unicode");
    return fault(std::string(unexpandable_output).append(path), std::move(hint));
  }
  return expanded->to_string();
}

}  // namespace

Result<Bundle> Bundle::create(platform::Env& env, std::string_view name, std::string_view out,
                              std::string_view out_debug) {
  Bundle bundle;
  bundle.name = name;
  // Release first: when both fail, the release path is the one reported.
  Result<std::string> release = expand_output(env, name, out);
  if (!release) return std::unexpected(std::move(release.error()));
  Result<std::string> debug = expand_output(env, name, out_debug);
  if (!debug) return std::unexpected(std::move(debug.error()));
  bundle.out = std::move(*release);
  bundle.out_debug = std::move(*debug);
  return bundle;
}

}  // namespace brelix
