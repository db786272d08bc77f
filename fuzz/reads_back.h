#pragma once
// What both CSS targets allow when printed text is read again.

#include <string>
#include <variant>
#include <vector>

#include "css/model.h"
#include "css/writer.h"

// A selector list printed with a leading '@' or '}' came from a non-gap
// space in front of it in the source and cannot be read back as a style
// rule; the minifier's rewrites never touch selectors.
inline bool reads_back_as_style_rule(const std::vector<css::Item>& items) {
  for (const css::Item& item : items) {
    if (const auto* rule = std::get_if<css::StyleRule>(&item)) {
      const std::string text = css::write_selector_list(rule->selectors);
      if (!text.empty() && (text[0] == '@' || text[0] == '}')) return false;
      if (!reads_back_as_style_rule(rule->items)) return false;
    } else if (const auto* at_rule = std::get_if<css::AtRule>(&item)) {
      if (!reads_back_as_style_rule(at_rule->items)) return false;
    } else if (const auto* media = std::get_if<css::MediaRule>(&item)) {
      if (!reads_back_as_style_rule(media->items)) return false;
    } else if (const auto* supports = std::get_if<css::SupportsRule>(&item)) {
      if (!reads_back_as_style_rule(supports->items)) return false;
    }
  }
  return true;
}
