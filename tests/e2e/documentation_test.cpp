// The documents that ship with brelix against the program itself: the man
// page must describe exactly the arguments that --help lists, and every
// place that names the version (the build, the changelog, the man page,
// --version) must name the same one.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/world.h"

namespace brelix::testing {
namespace {

std::string read_source_file(const std::string& relative) {
  const std::string path = source_dir() + "/" + relative;
  std::ifstream stream(path, std::ios::binary);
  if (!stream) {
    ADD_FAILURE() << "could not read " << path;
    return {};
  }
  std::ostringstream text;
  text << stream.rdbuf();
  return text.str();
}

// Lines without their line ends; a checkout or a Windows console may have
// added carriage returns.
std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string line(text.substr(0, end));
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(std::move(line));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return lines;
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// A roff line as a reader sees it: font changes and zero-width marks gone,
// escaped minus signs and backslashes as plain characters.
std::string plain_roff(std::string_view line) {
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\' || i + 1 == line.size()) {
      out.push_back(line[i]);
      continue;
    }
    const char next = line[++i];
    if (next == 'f' && i + 1 < line.size()) {
      ++i;  // \fB, \fI, \fR, \fP
    } else if (next == '-') {
      out.push_back('-');
    } else if (next == 'e') {
      out.push_back('\\');
    } else if (next != '&') {
      out.push_back('\\');
      out.push_back(next);
    }
  }
  return out;
}

// The entries of the help text's "Arguments:" and "Options:" sections, as
// a man page writes them: "-b, --boot BOOT", "EXTRA".
std::vector<std::string> help_entries(const std::string& help) {
  std::vector<std::string> entries;
  bool in_section = false;
  for (const std::string& line : lines_of(help)) {
    if (line == "Arguments:" || line == "Options:") {
      in_section = true;
      continue;
    }
    if (!starts_with(line, "  ")) {
      in_section = false;
      continue;
    }
    if (!in_section) {
      continue;
    }
    const std::string_view rest = std::string_view(line).substr(2);
    const std::string_view entry = rest.substr(0, rest.find("  "));
    std::string plain;
    std::copy_if(entry.begin(), entry.end(), std::back_inserter(plain),
                 [](char c) { return c != '<' && c != '>' && c != '[' && c != ']'; });
    entries.push_back(plain);
  }
  return entries;
}

// The tagged paragraphs (.TP headings) of the man page's OPTIONS section.
std::set<std::string> man_page_option_headings(const std::string& page) {
  std::set<std::string> headings;
  const std::vector<std::string> lines = lines_of(page);
  bool in_options = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (starts_with(lines[i], ".SH")) {
      in_options = lines[i] == ".SH OPTIONS";
    } else if (in_options && lines[i] == ".TP" && i + 1 < lines.size()) {
      headings.insert(plain_roff(lines[i + 1]));
    }
  }
  return headings;
}

std::string help_text() {
  World world;
  const RunResult help = world.run("brelix", {"--help"});
  EXPECT_EQ(help.status, 0) << help.err;
  return help.out;
}

TEST(ManPage, DescribesExactlyTheArgumentsTheHelpLists) {
  const std::vector<std::string> entries = help_entries(help_text());
  const std::set<std::string> headings = man_page_option_headings(read_source_file("man/brelix.1"));
  // Five declared arguments plus help and version: an empty list would mean
  // the help text changed shape, not that there is nothing to document.
  ASSERT_EQ(entries.size(), 7u) << "unexpected help layout";
  ASSERT_FALSE(headings.empty()) << "no OPTIONS section with .TP entries in man/brelix.1";

  for (const std::string& entry : entries) {
    EXPECT_TRUE(headings.contains(entry))
        << "the man page's OPTIONS do not describe \"" << entry << "\"";
  }
  for (const std::string& heading : headings) {
    EXPECT_TRUE(std::ranges::find(entries, heading) != entries.end())
        << "the man page describes \"" << heading << "\", which the help does not list";
  }
}

TEST(ManPage, SynopsisNamesEveryOption) {
  const std::string page = read_source_file("man/brelix.1");
  const size_t start = page.find(".SH SYNOPSIS");
  ASSERT_NE(start, std::string::npos);
  const size_t end = page.find(".SH ", start + 1);
  const std::string synopsis = plain_roff(std::string_view(page).substr(start, end - start));
  for (const std::string& entry : help_entries(help_text())) {
    // The short form alone stands for the option ("-b BOOT", "-o|-v").
    const std::string first = entry.substr(0, entry.find(','));
    EXPECT_NE(synopsis.find(first), std::string::npos) << "the synopsis lacks " << first;
  }
}

// The version the build declares: project(brelix VERSION x.y.z ...).
std::string cmake_project_version() {
  const std::string lists = read_source_file("CMakeLists.txt");
  const std::string marker = "project(brelix VERSION ";
  const size_t start = lists.find(marker);
  if (start == std::string::npos) {
    ADD_FAILURE() << "no \"" << marker << "\" in CMakeLists.txt";
    return {};
  }
  const size_t from = start + marker.size();
  return lists.substr(from, lists.find_first_of(" )", from) - from);
}

// The newest entry of CHANGELOG.md is its first "## x.y.z - yyyy-mm-dd".
std::string changelog_newest_version() {
  for (const std::string& line : lines_of(read_source_file("CHANGELOG.md"))) {
    if (starts_with(line, "## ")) {
      const std::string_view rest = std::string_view(line).substr(3);
      const size_t dash = rest.find(" - ");
      EXPECT_NE(dash, std::string_view::npos) << "changelog heading without a date: " << line;
      EXPECT_EQ(rest.size() - dash, std::string_view(" - yyyy-mm-dd").size()) << line;
      return std::string(rest.substr(0, dash));
    }
  }
  ADD_FAILURE() << "CHANGELOG.md has no version heading";
  return {};
}

// The version in the man page's title line: .TH BRELIX 1 date "brelix x.y.z" ...
std::string man_page_version() {
  for (const std::string& line : lines_of(read_source_file("man/brelix.1"))) {
    if (starts_with(line, ".TH ")) {
      const std::string marker = "\"brelix ";
      const size_t start = line.find(marker);
      if (start == std::string::npos) {
        break;
      }
      const size_t from = start + marker.size();
      return line.substr(from, line.find('"', from) - from);
    }
  }
  ADD_FAILURE() << "man/brelix.1 has no .TH line naming \"brelix VERSION\"";
  return {};
}

TEST(Version, IsTheSameEverywhere) {
  const std::string declared = cmake_project_version();
  ASSERT_FALSE(declared.empty());

  World world;
  const RunResult version = world.run("brelix", {"--version"});
  EXPECT_EQ(version.status, 0) << version.err;
  std::string printed = version.out;
  std::erase(printed, '\r');
  EXPECT_EQ(printed, "brelix " + declared + "\n");

  EXPECT_EQ(changelog_newest_version(), declared) << "CHANGELOG.md's newest entry";
  EXPECT_EQ(man_page_version(), declared) << "man/brelix.1's title line";
}

}  // namespace
}  // namespace brelix::testing
