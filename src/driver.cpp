#include "src/driver.h"

#include "src/bundle/build_css.h"
#include "src/bundle/build_js.h"
#include "src/bundle/bundle.h"
#include "unicode/properties.h"
#include "unicode/utf8.h"

namespace brelix {
namespace {

// Which option feeds which list. `list` and `extra` mean different lists
// for the two packages; `boot` is Veltrano's only; the CSS lists are fixed.
constexpr BundleStep ombril_steps[] = {
    {&catalogue::ombril_ux, &Arguments::list, nullptr},
    {&catalogue::ombril_system, &Arguments::extra, nullptr},
};
constexpr BundleStep veltrano_steps[] = {
    {&catalogue::veltrano_boot, &Arguments::boot, nullptr},
    {&catalogue::veltrano_system, &Arguments::list, &Arguments::extra},
    {&catalogue::veltrano_css, nullptr, nullptr},
};

Result<> build(const BundleStep& step, const Arguments& arguments, const BuildContext& context) {
  const catalogue::BundleEntry& entry = *step.entry;
  Result<Bundle> created = Bundle::create(entry.name, entry.out, entry.out_debug);
  if (!created) return std::unexpected(std::move(created.error()));
  Bundle& bundle = *created;
  bundle.files = choose_list(arguments, step.files_option, entry.files);
  bundle.extra = choose_list(arguments, step.extra_option, entry.extra);
  bundle.append_extra = entry.append_extra;
  bundle.importer = entry.importer;
  return entry.build == catalogue::Build::css ? build_css(bundle, context) : build_js(bundle, context);
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

std::span<const BundleStep> package_steps(const Arguments& arguments) {
  if (arguments.ombril) {
    return ombril_steps;
  }
  if (arguments.veltrano) {
    return veltrano_steps;
  }
  return {};
}

std::vector<std::string_view> choose_list(const Arguments& arguments, std::string Arguments::*option,
                                          std::span<const std::string_view> catalogue_list) {
  if (option != nullptr) {
    std::vector<std::string_view> given = words(arguments.*option);
    if (!given.empty()) {
      return given;
    }
  }
  return {catalogue_list.begin(), catalogue_list.end()};
}

Result<> run(const Arguments& arguments, const BuildContext& context) {
  const std::span<const BundleStep> steps = package_steps(arguments);
  if (steps.empty()) {
    return fail(std::string(no_package_message));
  }
  // Each bundle is created only after the previous one was built, so an
  // output that cannot be expanded stops the run with the earlier bundles
  // already in place.
  for (const BundleStep& step : steps) {
    if (Result<> built = build(step, arguments, context); !built) {
      return built;
    }
  }
  return {};
}

}  // namespace brelix
