// Every code point against the character database files themselves, read
// here with a parser of their own, where the files are installed.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "unicode/case.h"
#include "unicode/properties.h"
#include "unicode/utf8.h"

namespace {

constexpr char32_t code_point_count = 0x110000;

// Natively the files are under /usr/share/unicode; under Wine the same
// folder is reached through drive Z:.
std::string database_folder() {
  for (const char* folder : {"/usr/share/unicode", "Z:/usr/share/unicode"}) {
    const std::string probe = std::string(folder) + "/UnicodeData.txt";
    if (std::FILE* f = std::fopen(probe.c_str(), "rb")) {
      std::fclose(f);
      return folder;
    }
  }
  return {};
}

std::string read_file(const std::string& path) {
  std::string content;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
    std::fclose(f);
  }
  return content;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    pieces.push_back(
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return pieces;
    start = end + 1;
  }
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

char32_t hex(std::string_view s) {
  return static_cast<char32_t>(std::stoul(std::string(s), nullptr, 16));
}

// The code points listed for one property in a PropList-style file.
std::vector<bool> binary_property(const std::string& content, std::string_view property) {
  std::vector<bool> has(code_point_count);
  for (std::string_view line : split(content, '\n')) {
    line = line.substr(0, line.find('#'));
    const auto fields = split(line, ';');
    if (fields.size() < 2 || trim(fields[1]) != property) continue;
    const std::string_view codes = trim(fields[0]);
    const std::size_t dots = codes.find("..");
    const char32_t first = hex(codes.substr(0, dots));
    const char32_t last = dots == std::string_view::npos ? first : hex(codes.substr(dots + 2));
    for (char32_t c = first; c <= last; ++c) has[c] = true;
  }
  return has;
}

class Database : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = database_folder();
    if (folder_.empty()) GTEST_SKIP() << "no Unicode character database installed";
  }
  std::string read(std::string_view name) const {
    std::string content = read_file(folder_ + "/" + std::string(name));
    EXPECT_FALSE(content.empty()) << name;
    return content;
  }
  std::string folder_;
};

TEST_F(Database, WhiteSpaceAndAlphabetic) {
  const auto white_space = binary_property(read("PropList.txt"), "White_Space");
  const auto alphabetic = binary_property(read("DerivedCoreProperties.txt"), "Alphabetic");
  for (char32_t c = 0; c < code_point_count; ++c) {
    ASSERT_EQ(unicode::is_white_space(c), white_space[c])
        << std::hex << static_cast<unsigned long>(c);
    ASSERT_EQ(unicode::is_alphabetic(c), alphabetic[c])
        << std::hex << static_cast<unsigned long>(c);
  }
}

TEST_F(Database, NumericAndLowerCase) {
  std::vector<bool> numeric(code_point_count);
  // Lower case of each code point as UTF-8; empty means itself.
  std::vector<std::string> lower(code_point_count);

  // Kept in variables: the views that split returns point into them.
  const std::string unicode_data = read("UnicodeData.txt");
  const std::string special_casing = read("SpecialCasing.txt");

  char32_t block_start = 0;
  for (std::string_view line : split(unicode_data, '\n')) {
    const auto fields = split(line, ';');
    if (fields.size() < 14) continue;
    const char32_t code = hex(fields[0]);
    const std::string_view name = fields[1];
    if (name.ends_with(", First>")) {
      block_start = code;
      continue;
    }
    const char32_t first = name.ends_with(", Last>") ? block_start : code;
    const std::string_view category = fields[2];
    const bool is_numeric = category == "Nd" || category == "Nl" || category == "No";
    for (char32_t c = first; c <= code; ++c) numeric[c] = is_numeric;
    if (!fields[13].empty()) {
      lower[code].clear();
      unicode::append_utf8(lower[code], hex(fields[13]));
    }
  }
  std::size_t special = 0;
  for (std::string_view line : split(special_casing, '\n')) {
    line = line.substr(0, line.find('#'));
    const auto fields = split(line, ';');
    // code; lower; title; upper; [conditions;] -- only entries without
    // conditions apply everywhere.
    if (fields.size() < 5 || !trim(fields[4]).empty()) continue;
    const char32_t code = hex(trim(fields[0]));
    std::string mapped;
    for (std::string_view piece : split(trim(fields[1]), ' '))
      unicode::append_utf8(mapped, hex(piece));
    lower[code] = mapped;
    ++special;
  }
  ASSERT_GT(special, 50u);

  std::string text;
  for (char32_t c = 0; c < code_point_count; ++c) {
    ASSERT_EQ(unicode::is_numeric(c), numeric[c]) << std::hex << static_cast<unsigned long>(c);
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    text.clear();
    unicode::append_utf8(text, c);
    const std::string& expected = lower[c].empty() ? text : lower[c];
    ASSERT_EQ(unicode::to_lower(text), expected) << std::hex << static_cast<unsigned long>(c);
  }
}

}  // namespace
