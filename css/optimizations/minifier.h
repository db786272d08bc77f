#pragma once
// The CSS minifier: style-sheet text in, minified text out. The only entry
// into the CSS library from the bundle build.

#include <cstddef>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "css/optimizations/transformer.h"
#include "css/parser.h"

namespace css {

// The messages a rejected style sheet is reported with.
inline constexpr std::string_view invalid_block_message = "Invalid block at line ";
// For a parse that ended early without a position; the parser always gives
// one, so minify_css never produces it.
inline constexpr std::string_view invalid_css_message = "Invalid css";

// Why minify_css rejected a text. It refers to the caller's input and lives
// no longer than it.
class MError {
 public:
  MError(std::optional<ParseFailure> failure, std::string_view input)
      : failure_(failure), input_(input) {}

  // "Invalid block at line N", N counting the line feeds before the
  // failure offset from 1; "Invalid css" when there is no offset.
  std::string message() const;

  // The record form for fault reports, with the whole input:
  //   MError { message: "Invalid block at line 2", error: "a{}\nb{" }
  // Both texts are quoted with these escapes: line feed \n, carriage
  // return \r, tab \t, NUL \0, double quote \", backslash \\, every other
  // byte below 0x20 and DEL as \u{XX} with two lower-case hex digits
  // (\u{1b}). Bytes from 0x80 up are copied as they are.
  std::string debug() const;

  // The byte offset where parsing stopped, when the parser gave one.
  std::optional<std::size_t> offset() const;
  // The line of that offset, from 1; absent without an offset.
  std::optional<std::size_t> line() const;

  const std::optional<ParseFailure>& failure() const { return failure_; }
  std::string_view input() const { return input_; }

 private:
  std::optional<ParseFailure> failure_;
  std::string_view input_;
};

class CssMinifier {
 public:
  // The default transformer list: shorten_colour, shorten_numbers,
  // lowercase_name.
  CssMinifier();
  explicit CssMinifier(std::vector<Transformer> transformers);

  // Parses the whole text, runs the transformer pass and then the
  // font-keyword pass over every declaration block, and prints the sheet
  // minified. A text the parser does not accept in full gives an MError
  // and no output. The input is only read; the object keeps no state
  // between calls.
  std::expected<std::string, MError> minify_css(std::string_view input) const;

  // Told, as the minify goes on, an offset before which the input is not read
  // again except by the MError of a rejection (line() and debug() read it).
  using InputDone = std::function<void(std::size_t offset)>;
  std::expected<std::string, MError> minify_css(std::string_view input,
                                                const InputDone& done) const;

  // minify_css for a caller with no further use for the text: on success
  // the input's memory is released (the string left empty) as soon as
  // the model that points into it is gone, before the output is handed
  // back. On failure the input is left as it was, since the MError
  // refers to it.
  std::expected<std::string, MError> minify_css_releasing_input(std::string& input) const;

  const std::vector<Transformer>& transformers() const { return transformers_; }

 private:
  std::vector<Transformer> transformers_;
};

// Formats text as a double-quoted literal with the escapes of
// MError::debug.
std::string quoted_debug_text(std::string_view text);

}  // namespace css
