#pragma once
// Version-3 source maps for the JavaScript bundles: the minifier's map of
// the release text, which points into the concatenation, rewritten to point
// into the original sources (the concatenation only shifts whole lines, so
// every column stays exact), and a line map for the debug bundle.
//
// Debian packages no C++ library for the Base64 VLQ of the "mappings"
// field, so its small codec is here; JSON is nlohmann-json's.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "src/bundle/source_lines.h"
#include "src/failure.h"
#include "src/platform/env.h"

namespace brelix {

// BRELIX_SOURCE_MAPS: off when unset or empty.
enum class SourceMapMode { off, linked, hidden };
inline constexpr std::string_view source_maps_variable = "BRELIX_SOURCE_MAPS";
inline constexpr std::string_view source_map_root_variable = "BRELIX_SOURCE_MAP_ROOT";
inline constexpr std::string_view source_map_sources_variable = "BRELIX_SOURCE_MAP_SOURCES";
inline constexpr std::string_view source_maps_invalid =
    "BRELIX_SOURCE_MAPS must be linked or hidden";
inline constexpr std::string_view source_map_unreadable =
    "the source map uglifyjs wrote could not be read: ";
inline constexpr std::string_view source_map_suffix = ".map";
// The last line of a bundle in linked mode, before the map's file name.
inline constexpr std::string_view source_map_comment = "//# sourceMappingURL=";

struct SourceMapSettings {
  SourceMapMode mode = SourceMapMode::off;
  std::string root;       // BRELIX_SOURCE_MAP_ROOT, the maps' sourceRoot
  bool contents = false;  // BRELIX_SOURCE_MAP_SOURCES=1: sourcesContent
};

// The settings from env's variables; another mode than linked or hidden is
// the failure source_maps_invalid.
Result<SourceMapSettings> source_map_settings(platform::Env& env);

// One mapping: a column of the generated line, and where it comes from.
struct Segment {
  std::int64_t column = 0;
  std::int64_t source = -1;  // -1: a segment without a source
  std::int64_t line = 0;     // 0-based, in the source
  std::int64_t source_column = 0;
  std::int64_t name = -1;  // -1: without a name
  bool operator==(const Segment&) const = default;
};
using Mappings = std::vector<std::vector<Segment>>;  // one list per generated line

// The "mappings" field read into absolute values; nullopt when it is not
// well formed.
std::optional<Mappings> decode_mappings(std::string_view text);
std::string encode_mappings(const Mappings& mappings);

// What a map says about its sources.
struct MapSources {
  std::vector<std::string> names;     // as the map lists them
  std::vector<std::string> contents;  // empty, or one per name
  std::string root;                   // sourceRoot; empty for none
};

// The minifier's map (of one source, the concatenation whose lines are
// `lines`) rewritten to the original sources: each segment's line is moved
// to its source's own line, its column kept; a segment in a line after the
// last source (the importer snippet) keeps only its generated column.
Result<std::string> rewrite_minifier_map(std::string_view minifier_map, const SourceLines& lines,
                                         const MapSources& sources, std::string_view file);

// The debug bundle's map: each line of a source maps, from column 0, to the
// same line of that source.
std::string line_map(const SourceLines& lines, const MapSources& sources, std::string_view file);

// The text of an extra without its lines that name a map or a source URL
// of its own ("//# sourceMappingURL=", "//# sourceURL=", and the older
// "//@ " forms), which would otherwise apply to the whole bundle.
std::string drop_map_comments(std::string_view text);

// The path of a source as a map lists it: relative to the folder of the
// output when both are absolute or both relative, with "/" between the
// parts; else as it is.
std::string map_source_path(std::string_view source, std::string_view output);

}  // namespace brelix
