#pragma once
// The Ext JS class definition a JavaScript bundle may end with: it makes
// Veltrano.boot.Importer load the system bundle. The debug bundle names the
// debug system bundle, the release bundle the release one; nothing else
// differs. Each starts with a line feed and ends with three tabs and no
// line feed, so that whatever is appended later continues that last line.

#include <string_view>

namespace brelix {

inline constexpr std::string_view importer_snippet_debug =
    "\n"
    "\t\t\tExt.define('Veltrano.boot.Importer', {\n"
    "\t\t\t\t\n"
    "\t\t\t\tsingleton: true,\n"
    "\n"
    "\t\t\t\tmixins: [\n"
    "\t\t\t\t\t'Ext.mixin.Mashup'\n"
    "\t\t\t\t],\n"
    "\n"
    "\t\t\t\trequiredScripts: [\n"
    "\t\t\t\t\t'/veltrano/system-debug.js'\n"
    "\t\t\t\t]\n"
    "\t\t\t});\n"
    "\t\t\t";

inline constexpr std::string_view importer_snippet_release =
    "\n"
    "\t\t\tExt.define('Veltrano.boot.Importer', {\n"
    "\t\t\t\t\n"
    "\t\t\t\tsingleton: true,\n"
    "\n"
    "\t\t\t\tmixins: [\n"
    "\t\t\t\t\t'Ext.mixin.Mashup'\n"
    "\t\t\t\t],\n"
    "\n"
    "\t\t\t\trequiredScripts: [\n"
    "\t\t\t\t\t'/veltrano/system.js'\n"
    "\t\t\t\t]\n"
    "\t\t\t});\n"
    "\t\t\t";

}  // namespace brelix
