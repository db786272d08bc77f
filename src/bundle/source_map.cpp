#include "src/bundle/source_map.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <nlohmann/json.hpp>

namespace brelix {
namespace {

constexpr std::string_view base64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 128> base64_values = [] {
  std::array<std::int8_t, 128> values{};
  values.fill(-1);
  for (std::size_t i = 0; i < base64.size(); ++i) {
    values[static_cast<unsigned char>(base64[i])] = static_cast<std::int8_t>(i);
  }
  return values;
}();

// Five bits a digit, the lowest first; bit 6 says more follow; the sign is
// the lowest bit of the first group.
void append_vlq(std::string& out, std::int64_t value) {
  auto rest = value < 0 ? ((static_cast<std::uint64_t>(-value)) << 1) | 1u
                        : static_cast<std::uint64_t>(value) << 1;
  do {
    std::uint64_t digit = rest & 31u;
    rest >>= 5;
    if (rest != 0) digit |= 32u;
    out.push_back(base64[digit]);
  } while (rest != 0);
}

std::optional<std::int64_t> read_vlq(std::string_view text, std::size_t& pos) {
  std::uint64_t result = 0;
  unsigned shift = 0;
  while (pos < text.size()) {
    const auto c = static_cast<unsigned char>(text[pos++]);
    const int digit = c < 128 ? base64_values[c] : -1;
    if (digit < 0 || shift > 60) return std::nullopt;
    result |= static_cast<std::uint64_t>(digit & 31) << shift;
    shift += 5;
    if ((digit & 32) == 0) {
      const auto magnitude = static_cast<std::int64_t>(result >> 1);
      return (result & 1u) != 0 ? -magnitude : magnitude;
    }
  }
  return std::nullopt;
}

using Json = nlohmann::ordered_json;

std::string dump(const Json& map) {
  // A source that is not valid UTF-8 must not stop the map.
  return map.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json map_object(const MapSources& sources, std::string_view file, const Json& names,
                const std::string& mappings) {
  Json map;
  map["version"] = 3;
  map["file"] = std::string(file);
  if (!sources.root.empty()) map["sourceRoot"] = sources.root;
  map["sources"] = sources.names;
  if (!sources.contents.empty()) map["sourcesContent"] = sources.contents;
  map["names"] = names;
  map["mappings"] = mappings;
  return map;
}

}  // namespace

std::optional<Mappings> decode_mappings(std::string_view text) {
  Mappings lines(1);
  std::array<std::int64_t, 5> previous{};  // column, source, line, source column, name
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == ';') {
      lines.emplace_back();
      previous[0] = 0;
      ++pos;
      continue;
    }
    if (text[pos] == ',') {
      ++pos;
      continue;
    }
    std::array<std::int64_t, 5> fields{};
    std::size_t count = 0;
    while (pos < text.size() && text[pos] != ',' && text[pos] != ';') {
      if (count == fields.size()) return std::nullopt;
      const std::optional<std::int64_t> value = read_vlq(text, pos);
      if (!value) return std::nullopt;
      fields[count++] = *value;
    }
    if (count != 1 && count != 4 && count != 5) return std::nullopt;
    Segment segment;
    segment.column = previous[0] += fields[0];
    if (count >= 4) {
      segment.source = previous[1] += fields[1];
      segment.line = previous[2] += fields[2];
      segment.source_column = previous[3] += fields[3];
    }
    if (count == 5) segment.name = previous[4] += fields[4];
    lines.back().push_back(segment);
  }
  return lines;
}

std::string encode_mappings(const Mappings& mappings) {
  std::string out;
  std::array<std::int64_t, 5> previous{};
  for (std::size_t i = 0; i < mappings.size(); ++i) {
    if (i != 0) out.push_back(';');
    previous[0] = 0;
    bool first = true;
    for (const Segment& segment : mappings[i]) {
      if (!first) out.push_back(',');
      first = false;
      append_vlq(out, segment.column - previous[0]);
      previous[0] = segment.column;
      if (segment.source < 0) continue;
      append_vlq(out, segment.source - previous[1]);
      append_vlq(out, segment.line - previous[2]);
      append_vlq(out, segment.source_column - previous[3]);
      previous[1] = segment.source;
      previous[2] = segment.line;
      previous[3] = segment.source_column;
      if (segment.name < 0) continue;
      append_vlq(out, segment.name - previous[4]);
      previous[4] = segment.name;
    }
  }
  return out;
}

Result<std::string> rewrite_minifier_map(std::string_view minifier_map, const SourceLines& lines,
                                         const MapSources& sources, std::string_view file) {
  const Json map = Json::parse(minifier_map, nullptr, false);
  if (map.is_discarded() || !map.is_object() || !map.contains("mappings") ||
      !map["mappings"].is_string()) {
    return fail(std::string(source_map_unreadable) + "not a version-3 map");
  }
  std::optional<Mappings> mappings = decode_mappings(map["mappings"].get<std::string>());
  if (!mappings) {
    return fail(std::string(source_map_unreadable) + "its mappings are not well formed");
  }
  for (std::vector<Segment>& line : *mappings) {
    for (Segment& segment : line) {
      if (segment.source < 0) continue;
      // One source, the concatenation: its lines count from 0 here.
      const auto place = segment.source == 0 && segment.line >= 0
                             ? lines.locate(static_cast<std::uint64_t>(segment.line) + 1)
                             : std::nullopt;
      if (!place) {
        segment.source = -1;
        segment.name = -1;
        continue;
      }
      segment.source = static_cast<std::int64_t>(place->index);
      segment.line = static_cast<std::int64_t>(place->line) - 1;
    }
  }
  const Json names = map.contains("names") ? map["names"] : Json::array();
  return dump(map_object(sources, file, names, encode_mappings(*mappings)));
}

std::string line_map(const SourceLines& lines, const MapSources& sources, std::string_view file) {
  Mappings mappings(lines.lines());
  for (std::uint64_t line = 1; line <= lines.lines(); ++line) {
    if (const auto place = lines.locate(line)) {
      mappings[line - 1].push_back({0, static_cast<std::int64_t>(place->index),
                                    static_cast<std::int64_t>(place->line) - 1, 0, -1});
    }
  }
  return dump(map_object(sources, file, Json::array(), encode_mappings(mappings)));
}

std::string drop_map_comments(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t newline = text.find('\n', start);
    const std::size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
    std::string_view line = text.substr(start, end - start);
    const std::size_t first = line.find_first_not_of(" \t");
    std::string_view body = first == std::string_view::npos ? "" : line.substr(first);
    bool comment = false;
    if (body.starts_with("//#") || body.starts_with("//@")) {
      body.remove_prefix(std::min(body.size(), body.find_first_not_of(" \t", 3)));
      comment = body.starts_with("sourceMappingURL=") || body.starts_with("sourceURL=");
    }
    if (!comment) out.append(line);
    start = end;
  }
  return out;
}

Result<SourceMapSettings> source_map_settings(platform::Env& env) {
  SourceMapSettings settings;
  const platform::EnvValue mode = env.environment_variable(source_maps_variable);
  if (mode.state == platform::EnvValue::State::not_present || mode.value.empty()) {
    return settings;
  }
  if (mode.value == "linked") {
    settings.mode = SourceMapMode::linked;
  } else if (mode.value == "hidden") {
    settings.mode = SourceMapMode::hidden;
  } else {
    return fail(std::string(source_maps_invalid));
  }
  const platform::EnvValue root = env.environment_variable(source_map_root_variable);
  if (root.state == platform::EnvValue::State::present) settings.root = root.value;
  const platform::EnvValue contents = env.environment_variable(source_map_sources_variable);
  settings.contents = contents.state == platform::EnvValue::State::present && contents.value == "1";
  return settings;
}

std::string map_source_path(std::string_view source, std::string_view output) {
  namespace fs = std::filesystem;
  const fs::path from = fs::path(std::u8string(source.begin(), source.end())).lexically_normal();
  const fs::path folder =
      fs::path(std::u8string(output.begin(), output.end())).parent_path().lexically_normal();
  if (from.is_absolute() == folder.is_absolute()) {
    const fs::path relative = from.lexically_relative(folder.empty() ? fs::path(".") : folder);
    if (!relative.empty()) {
      const std::u8string text = relative.generic_u8string();
      return std::string(text.begin(), text.end());
    }
  }
  return std::string(source);
}

}  // namespace brelix
