// Minifier throughput: a few megabytes of generated style sheet shaped like
// a framework's, and the hostile shapes that a quadratic pass would choke
// on: one value of a million " 0px", a block of 100,000 declarations and a
// rule of 50,000 selectors.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "css/optimizations/minifier.h"

namespace {

void append_rule(std::string& out, int i) {
  const std::string n = std::to_string(i);
  switch (i % 7) {
    case 0:
      out += ".btn-" + n + ", .btn-" + n + ":hover, #nav .item-" + n + " > a::after {\n";
      out +=
          "  COLOR: #FFFFFF;\n  background-color: rgb(12, 34, " + std::to_string(i % 256) + ");\n";
      out += "  margin: 0px 0px 10px;\n  padding: 0.5em 1em !important;\n}\n";
      break;
    case 1:
      out += "/* Component " + n + " */\ninput:not([type=\"checkbox\"])[readonly], .form-" + n +
             " :not(.disabled) {\n";
      out +=
          "  font: normal 12px/1.5 \"Open Sans\", Arial, sans-serif;\n  border: 1px solid "
          "#CCCCCC;\n";
      out +=
          "  font-weight: bold;\n  font-family: \"Font Awesome 5 Free\", \"Helvetica Neue\";\n}\n";
      break;
    case 2:
      out += "@media screen and (max-width: " + std::to_string(300 + i % 900) + "px) {\n";
      out += "  .col-" + n + " { width: calc(100% - 0px); float: none; flex: 1 1 0px }\n";
      out += "  @supports (display: grid) { .grid-" + n +
             " { display: grid; gap: 0.5rem; --Gap: 0px } }\n}\n";
      break;
    case 3:
      out += ".icon-" + n +
             " { background: #FFFFFF url(data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAAB) "
             "no-repeat; content: \"\\201C, x 0.5\" }\n";
      break;
    case 4:
      out += "@keyframes fade-" + n +
             " { from { opacity: 0 } 50% { opacity: 0.5 } to { opacity: 1 } }\n";
      break;
    case 5:
      out += ".shadow-" + n +
             " { box-shadow: 0px 1px 2px rgba(0, 0, 0, 0.25), inset 0px 0px 0px 1px #FFF;"
             " transition: opacity 0.2s ease-in-out, transform 0.3s }\n";
      break;
    default:
      out += "ul.menu-" + n +
             " li:nth-child(2n+1) a[href^='http:'], ::selection { height: 100%;"
             " height: calc(100% + 60px); -webkit-transition: all .2s ease-in-out }\n";
      break;
  }
}

std::string realistic_sheet() {
  std::string out = "@charset \"UTF-8\";\n@import url(\"base.css\") screen;\n";
  for (int i = 0; out.size() < 4 * 1024 * 1024; ++i) append_rule(out, i);
  return out;
}

std::string million_zeros() {
  std::string out = "a{margin:0px";
  for (int i = 0; i < 1000000; ++i) out += " 0px";
  return out += "}";
}

std::string many_declarations() {
  std::string out = "a{";
  for (int i = 0; i < 100000; ++i) {
    out += "Property-" + std::to_string(i) + ": 0px 0.5em, #FFFFFF !important;";
  }
  return out += "}";
}

std::string many_selectors() {
  std::string out;
  for (int i = 0; i < 50000; ++i)
    out += ".selector-" + std::to_string(i * 7919 % 50000) + ":hover, ";
  return out += "b{COLOR:#FFFFFF}";
}

void run(benchmark::State& state, const std::string& sheet) {
  const css::CssMinifier minifier;
  for (auto _ : state) {
    auto minified = minifier.minify_css(sheet);
    if (!minified) state.SkipWithError("the sample does not parse");
    benchmark::DoNotOptimize(minified);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(sheet.size()));
}

void BM_MinifyRealistic(benchmark::State& state) {
  static const std::string sheet = realistic_sheet();
  run(state, sheet);
}

void BM_MinifyMillionZeros(benchmark::State& state) {
  static const std::string sheet = million_zeros();
  run(state, sheet);
}

void BM_MinifyManyDeclarations(benchmark::State& state) {
  static const std::string sheet = many_declarations();
  run(state, sheet);
}

void BM_MinifyManySelectors(benchmark::State& state) {
  static const std::string sheet = many_selectors();
  run(state, sheet);
}

}  // namespace

BENCHMARK(BM_MinifyRealistic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MinifyMillionZeros)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MinifyManyDeclarations)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MinifyManySelectors)->Unit(benchmark::kMillisecond);
