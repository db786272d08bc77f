// make_sample_project DIR: lays out a complete sample project for brelix in
// DIR. DIR/veltrano is the root to point VTPATH at; Ombril lies beside it
// in DIR/ombril, and the Ext JS build whose charts style sheet Veltrano
// appends lies beside it in DIR/ext-6.6.0. Every file the package catalogue
// names is written, with small but real content: Ext JS class definitions
// that a JavaScript minifier accepts, style sheets that give the CSS
// minifier work to do, and a few already-minified libraries and style
// sheets.
//
// The output depends on nothing but the catalogue, so two runs write the
// same bytes. A folder that holds anything but an earlier sample is refused.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "css/optimizations/minifier.h"
#include "src/bundle/expand_path.h"
#include "src/catalogue.h"
#include "src/platform/platform.h"

namespace {

using brelix::platform::Stream;

constexpr std::string_view usage = "usage: make_sample_project DIR\n";
constexpr std::string_view marker_name = ".brelix-sample";
constexpr std::string_view marker_text =
    "A sample project written by make_sample_project; safe to delete.\n";

void say(Stream stream, std::string_view text) {
  (void)brelix::platform::write(stream, text);
}

std::filesystem::path to_fs(std::string_view utf8) {
  return std::filesystem::path(
      std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string from_fs(const std::filesystem::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

// FNV-1a, so that each file gets its own small variations, the same on
// every run and every platform.
std::uint32_t hash_of(std::string_view text) {
  std::uint32_t h = 2166136261u;
  for (char c : text) {
    h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  }
  return h;
}

std::string number(std::uint32_t n) {
  return std::to_string(n);
}

// "$VTPATH/app/ux/form/field/Money.js" -> "Veltrano.ux.form.field.Money";
// Ombril's files are named after Ombril.
std::string class_name(std::string_view written) {
  std::string_view rest = written;
  std::string name;
  if (const std::size_t ombril = rest.find("/ombril/app/"); ombril != std::string_view::npos) {
    name = "Ombril";
    rest.remove_prefix(ombril + std::string_view("/ombril/app/").size());
  } else {
    name = "Veltrano";
    rest.remove_prefix(std::string_view("$VTPATH/").size());
    if (rest.starts_with("app/")) rest.remove_prefix(4);
  }
  rest = rest.substr(0, rest.find('.'));
  name.push_back('.');
  for (char c : rest) {
    name.push_back(c == '/' ? '.' : c);
  }
  return name;
}

std::string last_part(const std::string& dotted) {
  return dotted.substr(dotted.rfind('.') + 1);
}

std::string lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string alias_of(const std::string& cls) {
  std::string alias = lower(cls);
  for (char& c : alias) {
    if (c == '.') c = '-';
  }
  return alias;
}

bool has(std::string_view path, std::string_view piece) {
  return path.find(piece) != std::string_view::npos;
}

// One Ext JS class per source file, shaped by where it lives.
std::string javascript_source(std::string_view written) {
  const std::string cls = class_name(written);
  const std::string short_name = last_part(cls);
  const std::uint32_t h = hash_of(written);
  const std::string alias = alias_of(cls);
  std::string js = "/**\n * " + cls + "\n *\n * Part of the brelix sample project.\n */\n";

  if (written == "$VTPATH/overrides.js") {
    js +=
        "Ext.define('Veltrano.overrides.Component', {\n"
        "    override: 'Ext.Component',\n\n"
        "    // Keep focus handling quiet on components that were destroyed.\n"
        "    focus: function () {\n"
        "        if (this.destroyed) {\n"
        "            return this;\n"
        "        }\n"
        "        return this.callParent(arguments);\n"
        "    }\n"
        "});\n\n"
        "Ext.define('Veltrano.overrides.data.Connection', {\n"
        "    override: 'Ext.data.Connection',\n"
        "    timeout: " +
        number(30000 + h % 5 * 1000) +
        "\n"
        "});\n";
    return js;
  }
  if (has(written, "controller") || short_name.ends_with("Controller")) {
    js += "Ext.define('" + cls +
          "', {\n"
          "    extend: 'Ext.app.ViewController',\n"
          "    alias: 'controller." +
          alias +
          "',\n\n"
          "    onSave: function (button) {\n"
          "        var view = this.getView(),\n"
          "            record = view.getViewModel().get('record');\n"
          "        if (!record || !record.isValid()) {\n"
          "            Ext.toast('Please check the highlighted fields', " +
          number(2000 + h % 7 * 250) +
          ");\n"
          "            return;\n"
          "        }\n"
          "        button.disable();\n"
          "        record.save({\n"
          "            callback: function () {\n"
          "                button.enable();\n"
          "            }\n"
          "        });\n"
          "    },\n\n"
          "    onCancel: function () {\n"
          "        this.getView().close();\n"
          "    }\n"
          "});\n";
    return js;
  }
  if (has(written, "/entity/") || short_name.ends_with("Model")) {
    js += "Ext.define('" + cls +
          "', {\n"
          "    extend: 'Ext.data.Model',\n\n"
          "    fields: [\n"
          "        { name: 'id', type: 'int' },\n"
          "        { name: 'name', type: 'string' },\n"
          "        { name: 'createdAt', type: 'date', dateFormat: 'c' },\n"
          "        { name: 'position', type: 'int', defaultValue: " +
          number(h % 100) +
          " }\n"
          "    ],\n\n"
          "    validators: {\n"
          "        name: 'presence'\n"
          "    }\n"
          "});\n";
    return js;
  }
  if (short_name.ends_with("Store")) {
    js += "Ext.define('" + cls +
          "', {\n"
          "    extend: 'Ext.data.Store',\n"
          "    alias: 'store." +
          alias +
          "',\n\n"
          "    pageSize: " +
          number(25 + h % 4 * 25) +
          ",\n"
          "    proxy: {\n"
          "        type: 'ajax',\n"
          "        url: '/api/" +
          lower(short_name) +
          "',\n"
          "        reader: { type: 'json', rootProperty: 'data' }\n"
          "    }\n"
          "});\n";
    return js;
  }
  if (has(written, "/util/") || has(written, "/state/") || short_name == "Router" ||
      short_name == "Defaults") {
    js += "Ext.define('" + cls +
          "', {\n"
          "    singleton: true,\n\n"
          "    limit: " +
          number(h % 1000) +
          ",\n\n"
          "    apply: function (value, fallback) {\n"
          "        if (value === undefined || value === null) {\n"
          "            return fallback;\n"
          "        }\n"
          "        return Ext.isString(value) ? Ext.String.trim(value) : value;\n"
          "    },\n\n"
          "    describe: function () {\n"
          "        return '" +
          short_name +
          " (' + this.limit + ')';\n"
          "    }\n"
          "});\n";
    return js;
  }
  std::string base = "Ext.Component";
  std::string kind = "widget";
  if (has(written, "/form/field/") || has(written, "/field/") || has(written, "/editor/")) {
    base = "Ext.form.field.Text";
  } else if (has(written, "/grid/column/")) {
    base = "Ext.grid.column.Column";
  } else if (has(written, "/grid/plugin/") || has(written, "/plugin/")) {
    base = "Ext.plugin.Abstract";
    kind = "plugin";
  } else if (has(written, "/grid/")) {
    base = "Ext.grid.Panel";
  } else if (has(written, "/tree/")) {
    base = "Ext.tree.Panel";
  } else if (has(written, "/window/") || has(written, "/message/")) {
    base = "Ext.window.Window";
  } else if (has(written, "/button/")) {
    base = "Ext.button.Button";
  } else if (has(written, "/data/")) {
    base = "Ext.data.proxy.Ajax";
    kind = "proxy";
  } else if (has(written, "/mixin/")) {
    base = "Ext.Mixin";
    kind = "";
  } else if (has(written, "/view/") || has(written, "/panel/") || has(written, "/form/") ||
             has(written, "/map/")) {
    base = "Ext.panel.Panel";
  }
  js += "Ext.define('" + cls +
        "', {\n"
        "    extend: '" +
        base + "',\n";
  if (!kind.empty()) js += "    alias: '" + kind + "." + alias + "',\n";
  js +=
      "\n"
      "    config: {\n"
      "        size: " +
      number(8 + h % 24) +
      ",\n"
      "        label: '" +
      short_name +
      "'\n"
      "    },\n\n"
      "    cls: '" +
      alias +
      "',\n\n"
      "    initComponent: function () {\n"
      "        var me = this;\n"
      "        me.addCls(me.cls + '-' + me.getSize());\n"
      "        me.callParent(arguments);\n"
      "    }\n"
      "});\n";
  return js;
}

// Prebuilt libraries, already minified. Those in the source lists end with
// code and no line feed, so that the next source runs straight on after
// them; one appended as an extra ends with its source-map comment, also
// without a line feed.
std::string minified_javascript(std::string_view written, bool appended) {
  const std::string_view file = written.substr(written.rfind('/') + 1);
  std::string global(file.substr(0, file.find('.')));
  for (char& c : global) {
    if (c == '-') c = '_';
  }
  const std::string n = number(hash_of(written) % 97 + 3);
  std::string js =
      "/*! " + std::string(file) +
      " | sample build | MIT */\n"
      "!function(e,t){\"object\"==typeof exports&&\"undefined\"!=typeof "
      "module?module.exports=t():e." +
      global + "=t()}(this,function(){\"use strict\";var e=" + n +
      ";function t(t){return String(t).length%e}function n(e){for(var n=[],r=0;r<e.length;r++)"
      "n.push(t(e[r]));return n}return{version:\"1." +
      n + ".0\",encode:n,size:t}});";
  if (appended) {
    js += "\n//# sourceMappingURL=" + std::string(file) + ".map";
  }
  return js;
}

// Style sheets with what the minifier rewrites: selector lists, colours
// in long and functional form, zero lengths, font weights and quoted font
// families, at-rules nested a level or two. Nothing in them needs a `;`
// inside quotes or a data URL, which the minifier's grammar does not take.
std::string style_sheet(std::string_view written) {
  const std::string_view file = written.substr(written.rfind('/') + 1);
  const std::string base = lower(std::string(file.substr(0, file.find('.'))));
  const std::uint32_t h = hash_of(written);
  const std::string pad = number(4 + h % 12);
  std::string css = "/* " + std::string(file) + " - brelix sample project */\n\n";
  if (base == "fonts") {
    css +=
        "@font-face {\n"
        "    font-family: \"Open Sans\";\n"
        "    font-style: normal;\n"
        "    font-weight: normal;\n"
        "    src: url(\"fonts/open-sans-regular.woff2\") format(\"woff2\"), "
        "url(\"fonts/open-sans-regular.woff\") format(\"woff\");\n"
        "}\n\n"
        "@font-face {\n"
        "    font-family: \"Open Sans\";\n"
        "    font-style: normal;\n"
        "    font-weight: bold;\n"
        "    src: url(\"fonts/open-sans-bold.woff2\") format(\"woff2\");\n"
        "}\n\n"
        "body, input, textarea, button {\n"
        "    font-family: \"Open Sans\", Arial, sans-serif;\n"
        "    font-weight: normal;\n"
        "}\n";
    return css;
  }
  css += "." + base + "-panel, ." + base +
         "-window .x-title {\n"
         "    color: #FFFFFF;\n"
         "    background-color: rgb(0, 94, 184);\n"
         "    padding: 0px " +
         pad + "px 0px " + pad +
         "px;\n"
         "    margin: 0px;\n"
         "    font-weight: bold;\n"
         "}\n\n"
         "." +
         base + "-panel a:hover, ." + base +
         "-panel a:focus {\n"
         "    color: #AABBCC !important;\n"
         "    text-decoration: underline;\n"
         "}\n\n"
         "." +
         base +
         "-list > li:first-child::before {\n"
         "    content: \"\\2022\";\n"
         "    opacity: 0.5;\n"
         "    border-left: 1px solid #DDDDDD;\n"
         "}\n\n"
         "." +
         base +
         "-badge {\n"
         "    font: normal 12px/1.5 \"Open Sans\", Arial;\n"
         "    box-shadow: 0px 1px 2px rgba(0, 0, 0, 0.25);\n"
         "    BORDER-RADIUS: 0.25rem;\n"
         "}\n\n"
         "@media screen and (max-width: " +
         number(600 + h % 5 * 120) +
         "px) {\n"
         "    ." +
         base +
         "-panel {\n"
         "        padding: 0px;\n"
         "    }\n\n"
         "    @supports (display: grid) {\n"
         "        ." +
         base +
         "-list {\n"
         "            display: grid;\n"
         "            grid-gap: 0.5em;\n"
         "        }\n"
         "    }\n"
         "}\n\n"
         "@keyframes " +
         base +
         "-fade-in {\n"
         "    from {\n"
         "        opacity: 0;\n"
         "        color: rgb(255, 0, 0);\n"
         "    }\n"
         "    to {\n"
         "        opacity: 1;\n"
         "        color: #FF0000;\n"
         "    }\n"
         "}\n";
  return css;
}

// Already-minified style sheets, appended after the minifier has run.
std::string minified_style_sheet(std::string_view written) {
  const std::string_view file = written.substr(written.rfind('/') + 1);
  const std::string base = lower(std::string(file.substr(0, file.find('.'))));
  return "/*! " + std::string(file) + " | sample build */." + base +
         "{position:relative;color:#333}." + base +
         " .x-legend{font-weight:700;border:1px solid #ccc}@media print{." + base +
         "{display:none}}\n";
}

std::string content_for(std::string_view written, bool appended) {
  if (written.ends_with(".min.js")) return minified_javascript(written, appended);
  if (written.ends_with(".min.css") || written.ends_with("-all.css"))
    return minified_style_sheet(written);
  if (written.ends_with(".css")) return style_sheet(written);
  return javascript_source(written);
}

enum class Outcome { ok, refused, failed };

// An empty or missing folder, or one that holds an earlier sample, may be
// written into; anything else might be someone's work.
Outcome check_target(const std::filesystem::path& dir) {
  std::error_code error;
  const auto status = std::filesystem::symlink_status(dir, error);
  if (error && status.type() != std::filesystem::file_type::not_found) return Outcome::failed;
  if (status.type() == std::filesystem::file_type::not_found) return Outcome::ok;
  if (status.type() != std::filesystem::file_type::directory) return Outcome::refused;
  if (std::filesystem::exists(dir / to_fs(marker_name), error)) return Outcome::ok;
  std::filesystem::directory_iterator entries(dir, error);
  if (error) return Outcome::failed;
  return entries == std::filesystem::directory_iterator() ? Outcome::ok : Outcome::refused;
}

bool write_file(const std::filesystem::path& path, std::string_view bytes) {
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  if (error) {
    say(Stream::error, "make_sample_project: cannot create " + from_fs(path.parent_path()) + ": " +
                           error.message() + "\n");
    return false;
  }
  const std::string target = from_fs(path);
  auto file = brelix::platform::open_for_write(target);
  if (!file) {
    say(Stream::error, "make_sample_project: " + target + ": " + file.error().message + "\n");
    return false;
  }
  if (auto written = file->write_all(bytes); !written) {
    say(Stream::error, "make_sample_project: " + target + ": " + written.error().message + "\n");
    return false;
  }
  return true;
}

int make_sample(std::string_view dir_text) {
  // The throwing overload would end the program on a current folder that
  // has gone; this one reports it.
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(to_fs(dir_text), error);
  if (error) {
    say(Stream::error,
        "make_sample_project: " + std::string(dir_text) + ": " + error.message() + "\n");
    return 1;
  }
  const std::filesystem::path dir = absolute.lexically_normal();
  switch (check_target(dir)) {
    case Outcome::ok:
      break;
    case Outcome::refused:
      say(Stream::error,
          "make_sample_project: " + from_fs(dir) +
              " exists and is not an empty folder or an earlier sample; nothing written\n");
      return 1;
    case Outcome::failed:
      say(Stream::error, "make_sample_project: cannot look into " + from_fs(dir) + "\n");
      return 1;
  }
  if (!write_file(dir / to_fs(marker_name), marker_text)) return 1;

  // The catalogue's own paths, expanded the way brelix expands them, with
  // VTPATH naming the sample's root.
  const std::string root = from_fs(dir / "veltrano");
  const brelix::PathEnvironment environment{
      [&root](std::string_view name) {
        brelix::platform::EnvValue value;
        if (name == "VTPATH") {
          value.state = brelix::platform::EnvValue::State::present;
          value.value = root;
        }
        return value;
      },
      [] { return std::optional<std::string>(); },
  };
  std::size_t count = 0;
  for (const brelix::catalogue::BundleEntry* entry : brelix::catalogue::all_bundles) {
    for (const bool appended : {false, true}) {
      for (std::string_view written : appended ? entry->extra : entry->files) {
        auto expanded = brelix::expand_path(written, environment);
        if (!expanded) {
          say(Stream::error, "make_sample_project: " + expanded.error().message() + "\n");
          return 1;
        }
        const std::string content = content_for(written, appended);
        // A style sheet the minifier rejects would stop brelix with a
        // fault; better that the sample never holds one.
        if (!appended && written.ends_with(".css")) {
          if (auto minified = css::CssMinifier().minify_css(content); !minified) {
            say(Stream::error, "make_sample_project: " + std::string(written) + ": " +
                                   minified.error().message() + "\n");
            return 1;
          }
        }
        if (!write_file(to_fs(expanded->view()).lexically_normal(), content)) return 1;
        ++count;
      }
    }
  }
  say(Stream::output, "Sample project with " + number(static_cast<std::uint32_t>(count)) +
                          " files in " + from_fs(dir) + "; set VTPATH to " + root + "\n");
  return 0;
}

}  // namespace

// std::filesystem's inline code has throw paths (path conversions); the
// tool hands it UTF-8 it has checked and calls the error_code overloads, so
// what is left is running out of memory, which ends it either way.
int main(int argc, char** argv) {  // NOLINT(bugprone-exception-escape)
  brelix::platform::initialise_process(argc, argv);
  const auto args = brelix::platform::arguments();
  int status = 2;
  if (args.size() != 2 || !args[1] || args[1]->empty()) {
    say(Stream::error, usage);
  } else {
    status = make_sample(*args[1]);
  }
  (void)brelix::platform::flush(Stream::output);
  (void)brelix::platform::flush(Stream::error);
  brelix::platform::exit_process(status);
}
