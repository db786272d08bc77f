#pragma once
// The skeleton both bundle builds follow: the progress lines in their
// order, the two working files in the run's folder, the concatenation of
// the sources, a processing step of the build's own, the extras, and the
// finish: both files completed, the run's folder checked, both moved into
// place. A build fills in the steps that tell it apart. With
// debug_only_variable on, the release output is neither built nor touched.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "src/bundle/build_steps.h"
#include "src/bundle/bundle.h"
#include "src/failure.h"
#include "src/platform/env.h"

namespace brelix {

class BundleBuild {
 public:
  BundleBuild(const BundleBuild&) = delete;
  BundleBuild& operator=(const BundleBuild&) = delete;

  // Runs the build once. On failure neither destination has been touched,
  // except that a failed second move leaves out_debug already replaced and
  // out not.
  Result<> run();

 protected:
  // Requires: bundle and context outlive the build.
  BundleBuild(const Bundle& bundle, const BuildContext& context, std::string_view debug_name,
              std::string_view release_name)
      : bundle_(bundle),
        env_(context.env),
        directory_(context.directory),
        debug_name_(debug_name),
        release_name_(release_name) {}
  virtual ~BundleBuild() = default;

  // After the debug file is open, before the first source.
  virtual Result<> begin() { return {}; }
  // One source of the concatenation, read whole.
  virtual Result<> concatenate(std::string_view source) = 0;
  // After the last source, before ": Concatenating done".
  virtual Result<> end_concatenation() { return {}; }
  // After ": Concatenating done", before ": Processing files".
  virtual Result<> before_processing() { return {}; }
  // After ": Processing files": leaves release_ open for appending, holding
  // the processed text.
  virtual Result<> process() = 0;
  // One extra file, read whole, after processing.
  virtual Result<> append(std::string_view extra) = 0;
  // After the extras, before both files are finished.
  virtual Result<> end_outputs() { return {}; }

  // Set before begin(): only the debug output is built, and release_ is
  // never opened. before_processing() and process() are not called.
  bool debug_only_ = false;

  const Bundle& bundle_;
  platform::Env& env_;
  RunDirectory& directory_;
  std::string debug_path_;
  std::string release_path_;
  // Declared in release order: the release handle goes before the debug
  // handle on every way out; a build's own members go before both.
  platform::File debug_;
  platform::File release_;
  // Finished working files that go beside the outputs (a source map, the
  // licence notices): each working path and its destination, moved in this
  // order before the outputs.
  std::vector<std::pair<std::string, std::string>> companions_;

 private:
  std::string_view debug_name_;
  std::string_view release_name_;
};

}  // namespace brelix
