#include "src/bundle/legal_comments.h"

namespace brelix {
namespace {

bool is_legal(std::string_view comment) {
  return comment.starts_with("/*!") || comment.find("@license") != std::string_view::npos ||
         comment.find("@preserve") != std::string_view::npos;
}

bool is_identifier_end(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

// The end of a quoted text starting at pos (its opening quote), past the
// closing one; a backslash escapes the next character.
std::size_t skip_quoted(std::string_view text, std::size_t pos) {
  const char quote = text[pos];
  for (++pos; pos < text.size(); ++pos) {
    if (text[pos] == '\\') {
      ++pos;
    } else if (text[pos] == quote || (quote != '`' && text[pos] == '\n')) {
      return pos + 1;
    }
  }
  return text.size();
}

// A regular expression literal from its opening slash: a slash inside a
// class [...] does not end it.
std::size_t skip_regex(std::string_view text, std::size_t pos) {
  bool in_class = false;
  for (++pos; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c == '\\') {
      ++pos;
    } else if (c == '\n') {
      return pos;
    } else if (c == '[') {
      in_class = true;
    } else if (c == ']') {
      in_class = false;
    } else if (c == '/' && !in_class) {
      return pos + 1;
    }
  }
  return text.size();
}

// Words after which a slash starts a regular expression, not a division.
bool is_operator_word(std::string_view word) {
  for (const std::string_view keyword :
       {"return", "typeof", "case", "do", "else", "in", "of", "new", "delete", "void", "throw",
        "instanceof", "yield", "await"}) {
    if (word == keyword) return true;
  }
  return false;
}

}  // namespace

Result<LegalComments> legal_comments_mode(platform::Env& env) {
  const platform::EnvValue value = env.environment_variable(legal_comments_variable);
  if (value.state == platform::EnvValue::State::not_present || value.value.empty()) {
    return LegalComments::none;
  }
  if (value.value == "eof") return LegalComments::eof;
  if (value.value == "external") return LegalComments::external;
  return fail(std::string(legal_comments_invalid));
}

void LegalCommentCollector::add(std::string_view source) {
  // The last character that was not blank or inside a comment: after a
  // value (a name, a number, a closing bracket) a slash divides.
  char previous = '\0';
  std::size_t word_start = 0;  // of the name or number that ends at previous
  std::size_t word_end = 0;
  std::size_t pos = 0;
  while (pos < source.size()) {
    const char c = source[pos];
    if (c == '/' && pos + 1 < source.size() && source[pos + 1] == '*') {
      const std::size_t end = source.find("*/", pos + 2);
      const std::size_t stop = end == std::string_view::npos ? source.size() : end + 2;
      const std::string_view comment = source.substr(pos, stop - pos);
      if (end != std::string_view::npos && is_legal(comment) && seen_.emplace(comment).second) {
        comments_.emplace_back(comment);
      }
      pos = stop;
    } else if (c == '/' && pos + 1 < source.size() && source[pos + 1] == '/') {
      const std::size_t end = source.find('\n', pos);
      pos = end == std::string_view::npos ? source.size() : end;
    } else if (c == '"' || c == '\'' || c == '`') {
      pos = skip_quoted(source, pos);
      previous = c;
    } else if (c == '/') {
      const bool after_word = is_identifier_end(previous) && word_end > word_start;
      const bool divides =
          (after_word && !is_operator_word(source.substr(word_start, word_end - word_start))) ||
          previous == ')' || previous == ']' || previous == '}' || previous == '"' ||
          previous == '\'' || previous == '`';
      pos = divides ? pos + 1 : skip_regex(source, pos);
      previous = divides ? c : 'a';
    } else {
      if (is_identifier_end(c)) {
        if (!is_identifier_end(previous) || word_end != pos) word_start = pos;
        word_end = pos + 1;
      }
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') previous = c;
      ++pos;
    }
  }
}

std::string LegalCommentCollector::text() const {
  std::string out;
  for (const std::string& comment : comments_) {
    out.append(comment);
    out.push_back('\n');
  }
  return out;
}

}  // namespace brelix
