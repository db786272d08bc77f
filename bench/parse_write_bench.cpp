// Parser and writer throughput over a few megabytes of generated style
// sheet shaped like a framework's: many small rules, nested media and
// supports blocks, keyframes, comments, strings and data URLs.

#include <benchmark/benchmark.h>

#include <string>

#include "css/parser.h"
#include "css/writer.h"

namespace {

void append_rule(std::string& out, int i) {
  const std::string n = std::to_string(i);
  switch (i % 6) {
    case 0:
      out += ".btn-" + n + ", .btn-" + n + ":hover, #nav .item-" + n + " > a::after {\n";
      out +=
          "  color: #FFFFFF;\n  background-color: rgb(12, 34, " + std::to_string(i % 256) + ");\n";
      out += "  margin: 0px 0px 10px;\n  padding: 0.5em 1em !important;\n}\n";
      break;
    case 1:
      out += "/* Component " + n + " */\ninput:not([type=\"checkbox\"])[readonly], .form-" + n +
             " :not(.disabled) {\n";
      out +=
          "  font: normal 12px/1.5 \"Open Sans\", Arial, sans-serif;\n  border: 1px solid "
          "#ccc;\n}\n";
      break;
    case 2:
      out += "@media screen and (max-width: " + std::to_string(300 + i % 900) + "px) {\n";
      out += "  .col-" + n + " { width: 100%; float: none }\n";
      out += "  @supports (display: grid) { .grid-" + n + " { display: grid; gap: 0.5rem } }\n}\n";
      break;
    case 3:
      out += ".icon-" + n +
             " { background: url(data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAAB) no-repeat;"
             " content: \"\\201C; x\" }\n";
      break;
    case 4:
      out += "@keyframes fade-" + n +
             " { from { opacity: 0 } 50% { opacity: .5 } to { opacity: 1 } }\n";
      break;
    default:
      out += "ul.menu-" + n +
             " li:nth-child(2n+1) a[href^='http:'], ::selection { height: 100%;"
             " height: calc(100% + 60px); -webkit-transition: all .2s ease-in-out }\n";
      break;
  }
}

const std::string& sample_sheet() {
  static const std::string sheet = [] {
    std::string out = "@charset \"UTF-8\";\n@import url(\"base.css\") screen;\n";
    for (int i = 0; out.size() < 4 * 1024 * 1024; ++i) append_rule(out, i);
    return out;
  }();
  return sheet;
}

void BM_Parse(benchmark::State& state) {
  const std::string& sheet = sample_sheet();
  for (auto _ : state) {
    auto parsed = css::parse_stylesheet(sheet);
    benchmark::DoNotOptimize(parsed);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(sheet.size()));
}

void BM_Write(benchmark::State& state) {
  const std::string& sheet = sample_sheet();
  const css::Stylesheet parsed = css::parse_stylesheet(sheet).value();
  for (auto _ : state) {
    std::string written = css::write_stylesheet(parsed);
    benchmark::DoNotOptimize(written);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(sheet.size()));
}

void BM_ParseAndWrite(benchmark::State& state) {
  const std::string& sheet = sample_sheet();
  for (auto _ : state) {
    std::string written = css::write_stylesheet(css::parse_stylesheet(sheet).value());
    benchmark::DoNotOptimize(written);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(sheet.size()));
}

}  // namespace

BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAndWrite)->Unit(benchmark::kMillisecond);
