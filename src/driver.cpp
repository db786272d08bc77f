#include "src/driver.h"

#include <new>
#include <stdexcept>

#include "src/bundle/build_css.h"
#include "src/bundle/build_js.h"
#include "src/bundle/bundle.h"
#include "unicode/properties.h"
#include "unicode/utf8.h"

namespace brelix {
namespace {

Result<> build(const catalogue::PackageBundle& step, const Arguments& arguments,
               const BuildContext& context) {
  const catalogue::BundleEntry& entry = *step.entry;
  Result<Bundle> created = Bundle::create(context.env, entry.name, entry.out, entry.out_debug);
  if (!created) return std::unexpected(std::move(created.error()));
  Bundle& bundle = *created;
  bundle.files = choose_list(arguments, step.files, entry.files);
  bundle.extra = choose_list(arguments, step.extra, entry.extra);
  bundle.append_extra = entry.append_extra;
  bundle.importer = entry.importer;
  // Every handle and the child belong to scopes inside the build, so
  // unwinding from here releases them as any failure does.
  try {
    return entry.build == catalogue::Build::css ? build_css(bundle, context)
                                                : build_js(bundle, context);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return fail(std::string(out_of_memory_message) + std::string(entry.name));
}

}  // namespace

std::vector<std::string_view> words(std::string_view text) {
  std::vector<std::string_view> found;
  std::size_t start = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t here = pos;
    if (unicode::is_white_space(unicode::decode_next(text, pos))) {
      if (here > start) {
        found.push_back(text.substr(start, here - start));
      }
      start = pos;
    }
  }
  if (text.size() > start) {
    found.push_back(text.substr(start));
  }
  return found;
}

std::span<const catalogue::PackageBundle> package_bundles(const Arguments& arguments) {
  for (const catalogue::Package& package : catalogue::packages) {
    if (flag_given(arguments, package)) {
      return package.bundles;
    }
  }
  return {};
}

std::vector<std::string_view> choose_list(const Arguments& arguments, catalogue::ListOption option,
                                          std::span<const std::string_view> catalogue_list) {
  if (const std::string* value = option_value(arguments, option)) {
    std::vector<std::string_view> given = words(*value);
    if (!given.empty()) {
      return given;
    }
  }
  return {catalogue_list.begin(), catalogue_list.end()};
}

Result<> run(const Arguments& arguments, const BuildContext& context) {
  const std::span<const catalogue::PackageBundle> steps = package_bundles(arguments);
  if (steps.empty()) {
    return fail(std::string(no_package_message));
  }
  // Each bundle is created only after the previous one was built, so an
  // output that cannot be expanded stops the run with the earlier bundles
  // already in place.
  for (const catalogue::PackageBundle& step : steps) {
    if (Result<> built = build(step, arguments, context); !built) {
      return built;
    }
  }
  return {};
}

}  // namespace brelix
