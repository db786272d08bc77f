#include "css/optimizations/minifier.h"

#include <algorithm>
#include <utility>

#include "css/optimizations/font_keywords.h"
#include "css/optimizations/walk.h"
#include "css/writer.h"

namespace css {

std::optional<std::size_t> MError::offset() const {
  if (!failure_) return std::nullopt;
  return std::min(failure_->offset, input_.size());
}

std::optional<std::size_t> MError::line() const {
  const std::optional<std::size_t> at = offset();
  if (!at) return std::nullopt;
  // Carriage returns play no part: "\r\n" and "\n" both end a line, a lone
  // "\r" does not.
  const std::string_view before = input_.substr(0, *at);
  return static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n')) + 1;
}

std::string MError::message() const {
  const std::optional<std::size_t> at = line();
  if (!at) return std::string(invalid_css_message);
  return std::string(invalid_block_message) + std::to_string(*at);
}

std::string MError::debug() const {
  std::string out = "MError { message: ";
  out += quoted_debug_text(message());
  out += ", error: ";
  out += quoted_debug_text(input_);
  out += " }";
  return out;
}

std::string quoted_debug_text(std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\0':
        out += "\\0";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          out += "\\u{";
          out += hex[byte >> 4];
          out += hex[byte & 0xf];
          out += '}';
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

CssMinifier::CssMinifier() : transformers_(default_transformers()) {}

CssMinifier::CssMinifier(std::vector<Transformer> transformers)
    : transformers_(std::move(transformers)) {}

namespace {

std::string rewrite_and_write(Stylesheet& sheet, const std::vector<Transformer>& transformers,
                              std::size_t expected_size) {
  // Both passes in one walk: each rewrites one map without looking at any
  // other, so finishing the first pass on a map before the second starts
  // on it gives what two complete walks give, and the model is read once.
  // The font rewrites still see names already lowered.
  TransformerPass transform(transformers, sheet.arena);
  walk_declaration_maps(sheet.items, [&](DeclarationMap& declarations) {
    transform.run(declarations);
    rewrite_font_keywords(declarations, sheet.arena);
  });
  return write_stylesheet(sheet, expected_size);
}

}  // namespace

std::expected<std::string, MError> CssMinifier::minify_css(std::string_view input) const {
  std::expected<Stylesheet, ParseFailure> parsed = parse_stylesheet(input);
  if (!parsed) return std::unexpected(MError(parsed.error(), input));
  return rewrite_and_write(*parsed, transformers_, input.size());
}

std::expected<std::string, MError> CssMinifier::minify_css(std::string_view input,
                                                           const InputDone& done) const {
  auto out = minify_css(input);
  if (out) done(input.size());
  return out;
}

std::expected<std::string, MError> CssMinifier::minify_css_releasing_input(
    std::string& input) const {
  std::expected<Stylesheet, ParseFailure> parsed = parse_stylesheet(input);
  if (!parsed) return std::unexpected(MError(parsed.error(), input));
  std::string output;
  {
    // The model points into the input, so the text can go only once
    // the model has gone (its items before the arena they point into).
    Stylesheet sheet = std::move(*parsed);
    output = rewrite_and_write(sheet, transformers_, input.size());
  }
  std::string().swap(input);
  return output;
}

}  // namespace css
