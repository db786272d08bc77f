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

// Rewrites and prints each top-level item as it comes, then lets it go
// and reuses the arena for the next: every pass rewrites one declaration
// map without looking at any other, and top-level items are printed one
// after the other with nothing between them, so the output is what
// rewriting and printing the whole sheet at once gives.
class ItemMinifier final : public SheetVisitor {
 public:
  ItemMinifier(const std::vector<Transformer>& transformers, Arena& arena, std::string& out,
               const CssMinifier::InputDone* done)
      : transform_(transformers, arena), arena_(arena), out_(out), done_(done) {}

  void item(Item&& item) override {
    {
      Item held = std::move(item);
      // Both passes in one walk: finishing the first on a map before the
      // second starts on it gives what two complete walks give. The font
      // rewrites still see names already lowered.
      walk_declaration_maps(held, [&](DeclarationMap& declarations) {
        transform_.run(declarations);
        rewrite_font_keywords(declarations, arena_);
      });
      append_item(out_, held);
    }
    arena_.reset();
  }
  void checkpoint() override { mark_ = out_.size(); }
  void rewind() override { out_.resize(mark_); }
  void read_past(std::size_t offset) override {
    if (done_ != nullptr) (*done_)(offset);
  }

 private:
  TransformerPass transform_;
  Arena& arena_;
  std::string& out_;
  const CssMinifier::InputDone* done_;
  std::size_t mark_ = 0;
};

std::expected<std::string, MError> minify(std::string_view input,
                                          const std::vector<Transformer>& transformers,
                                          const CssMinifier::InputDone* done) {
  std::string out;
  out.reserve(input.size());
  Arena arena;
  ItemMinifier minifier(transformers, arena, out, done);
  if (auto read = read_stylesheet(input, arena, minifier); !read) {
    return std::unexpected(MError(read.error(), input));
  }
  return out;
}

}  // namespace

std::expected<std::string, MError> CssMinifier::minify_css(std::string_view input) const {
  return minify(input, transformers_, nullptr);
}

std::expected<std::string, MError> CssMinifier::minify_css(std::string_view input,
                                                           const InputDone& done) const {
  return minify(input, transformers_, &done);
}

std::expected<std::string, MError> CssMinifier::minify_css_releasing_input(
    std::string& input) const {
  std::expected<std::string, MError> output = minify(input, transformers_, nullptr);
  if (output) std::string().swap(input);
  return output;
}

}  // namespace css
