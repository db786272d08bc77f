#pragma once
// Licence notices kept through minification, opt-in with
// BRELIX_LEGAL_COMMENTS: the sources' block comments that start with "/*!"
// or hold "@license" or "@preserve", in source order, each once.

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "src/failure.h"
#include "src/platform/env.h"

namespace brelix {

enum class LegalComments { none, eof, external };
inline constexpr std::string_view legal_comments_variable = "BRELIX_LEGAL_COMMENTS";
inline constexpr std::string_view legal_comments_invalid =
    "BRELIX_LEGAL_COMMENTS must be eof or external";
// The file beside the release output in external mode: its name without
// the ".js" and this.
inline constexpr std::string_view legal_comments_suffix = ".LICENSE.txt";

// none when unset or empty; another value than eof or external is the
// failure legal_comments_invalid.
Result<LegalComments> legal_comments_mode(platform::Env& env);

// Collects the notices of one source after another.
class LegalCommentCollector {
 public:
  // Scans JavaScript for its comments, passing over strings, template
  // texts and regular expression literals (told from a division by the
  // token before the slash).
  void add(std::string_view source);
  // The notices found, each followed by a line feed.
  std::string text() const;
  bool empty() const { return comments_.empty(); }

 private:
  std::vector<std::string> comments_;
  std::unordered_set<std::string> seen_;
};

}  // namespace brelix
