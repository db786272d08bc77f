// Checks a release bundle's source map against its sources: every string
// literal of four characters or more in the minified code is traced back
// through the map, and must land where the same literal starts in its
// original source (the exact column) or at least on a line of that source
// that holds it.
//
//   node bench/map_accuracy.mjs BUNDLE.js BUNDLE.js.map [NODE_MODULES]
//
// acorn and @jridgewell/trace-mapping come from NODE_MODULES (default
// bench/node_modules).

import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";
import { fileURLToPath } from "node:url";

const [bundlePath, mapPath, modules] = process.argv.slice(2);
const here = path.dirname(fileURLToPath(import.meta.url));
const require = createRequire(path.join(modules ?? path.join(here, "node_modules"), "x.js"));
const acorn = require("acorn");
const { TraceMap, originalPositionFor } = require("@jridgewell/trace-mapping");

const code = readFileSync(bundlePath, "utf8");
const mapText = readFileSync(mapPath, "utf8");
const traced = new TraceMap(mapText);
const map = JSON.parse(mapText);
const mapFolder = path.dirname(mapPath);
const sources = new Map();
const sourceLines = (name) => {
  if (!sources.has(name)) {
    const file = path.resolve(mapFolder, map.sourceRoot ?? "", name);
    sources.set(name, readFileSync(file, "utf8").split("\n"));
  }
  return sources.get(name);
};

let total = 0;
let rightLine = 0;
let exact = 0;
const walk = (node) => {
  if (!node || typeof node.type !== "string") return;
  if (node.type === "Literal" && typeof node.value === "string" && node.value.length >= 4) {
    total += 1;
    const at = originalPositionFor(traced, {
      line: node.loc.start.line,
      column: node.loc.start.column,
    });
    if (at.source !== null) {
      const line = sourceLines(at.source.replace(/^.*?\/\//, ""))[at.line - 1] ?? "";
      if (line.includes(node.value)) rightLine += 1;
      const quote = line[at.column];
      if ((quote === '"' || quote === "'" || quote === "`") &&
          line.startsWith(node.value, at.column + 1)) {
        exact += 1;
      }
    }
  }
  for (const key of Object.keys(node)) {
    const value = node[key];
    if (Array.isArray(value)) value.forEach(walk);
    else if (value && typeof value === "object" && key !== "loc") walk(value);
  }
};
walk(acorn.parse(code, { ecmaVersion: "latest", locations: true, sourceType: "script" }));
const percent = (n) => ((100 * n) / total).toFixed(1);
console.log(JSON.stringify({ total, rightLine, exact, rightLinePercent: percent(rightLine),
                             exactPercent: percent(exact) }));
