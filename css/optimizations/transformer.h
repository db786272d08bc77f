#pragma once
// The transformer pass: a list of text rewrites run over every declaration
// of a block.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "css/arena.h"
#include "css/declaration_map.h"

namespace css {

enum class TransformTarget {
  name,   // the property name
  value,  // the value text, "!important" included
};

struct Transformer {
  TransformTarget target = TransformTarget::value;
  // Takes the text that `target` names and returns it rewritten. It also
  // gets the declaration's property name as it stands when the entry runs
  // (for a name entry, the text itself): the number rewrite must keep the
  // zero units of custom properties and flex values.
  std::function<std::string(std::string text, std::string_view property)> apply;
  // Optional: a cheap look at the text, true only where apply would give
  // it back as it is, so that the pass need not copy it out and back.
  bool (*leaves_as_is)(std::string_view text) = nullptr;
};

// shorten_colour and shorten_numbers on values, then lowercase_name on
// names.
std::vector<Transformer> default_transformers();

// The transformer pass over the blocks of one style sheet. A rewritten
// text goes into the sheet's arena; a text no transformer changed keeps
// its view.
class TransformerPass {
 public:
  // Requires: both outlive the pass, and the arena the maps it runs on.
  TransformerPass(const std::vector<Transformer>& transformers, Arena& arena)
      : transformers_(transformers), arena_(arena) {}

  // The block rewritten: each declaration in order goes through the
  // transformers in list order, each getting the text its predecessor
  // left; the map becomes what inserting the results one by one into a
  // new map gives. The map's insert keeps every declaration in place
  // except an earlier exact repeat, so "COLOR:red;color:red" ends as one
  // "color:red" and "COLOR:red;color:blue" keeps both.
  void run(DeclarationMap& declarations);

 private:
  // Stores the buffer as the text when a transformer changed it, and
  // says whether it did.
  bool store_if_changed(std::string_view* text);

  const std::vector<Transformer>& transformers_;
  Arena& arena_;
  // One buffer for every text: it goes through the transformers and comes
  // back, so a rewrite that returns the text it was given allocates
  // nothing.
  std::string buffer_;
};

}  // namespace css
