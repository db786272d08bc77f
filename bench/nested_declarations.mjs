// Compares the nested declaration rules (CSSNestedDeclarations: the
// declarations that follow a nested rule) of two style sheets in Chromium,
// property by property, with the engine's serialisations compared after
// removing white space. The meaning checker keys such a rule by its whole
// text, so a value that only lost spaces ("a, b" -> "a,b") shows there as a
// changed rule; this tells those apart from real changes.
//
//   node bench/nested_declarations.mjs ORIGINAL.css MINIFIED.css
// playwright-core is taken from the meaning checker's folder (EQUIV_DIR,
// by default ../shared/equiv beside the repository).
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';

const equiv = process.env.EQUIV_DIR || path.join(path.dirname(fileURLToPath(import.meta.url)), '..', '..', 'shared', 'equiv');
const { chromium } = createRequire(path.join(equiv, 'package.json'))('playwright-core');

const [original, minified] = process.argv.slice(2).map((p) => fs.readFileSync(p, 'utf8'));
const browser = await chromium.launch({ executablePath: process.env.EQUIV_CHROMIUM || '/usr/bin/chromium', args: ['--no-sandbox'] });
const page = await browser.newPage();
const result = await page.evaluate(([a, b]) => {
  const collect = (text) => {
    const sheet = new CSSStyleSheet();
    sheet.replaceSync(text);
    const out = [];
    const walk = (rules, path) => {
      for (const rule of rules) {
        // The minifier sorts selector lists, the engine keeps their order.
        const name = rule.selectorText ? rule.selectorText.split(', ').sort().join(', ') : rule.constructor.name;
        const here = path + ' > ' + name;
        if (rule.constructor.name === 'CSSNestedDeclarations') {
          const props = [];
          for (let i = 0; i < rule.style.length; i++) {
            const name = rule.style[i];
            props.push(name + ':' + rule.style.getPropertyValue(name).replace(/\s+/g, '') + rule.style.getPropertyPriority(name));
          }
          out.push(path + ' { ' + props.join(';'));
        }
        if (rule.cssRules) walk(rule.cssRules, here);
      }
    };
    walk(sheet.cssRules, '');
    return out;
  };
  const x = collect(a), y = collect(b);
  const differing = [];
  for (let i = 0; i < Math.max(x.length, y.length); i++) if (x[i] !== y[i]) differing.push([x[i], y[i]]);
  return { original: x.length, minified: y.length, differing };
}, [original, minified]);
await browser.close();
console.log(`nested declaration rules: ${result.original} in original, ${result.minified} in minified; differing after white space: ${result.differing.length}`);
for (const [a, b] of result.differing.slice(0, 5)) console.log('  original: ' + a + '\n  minified: ' + b);
process.exit(result.differing.length || result.original !== result.minified ? 1 : 0);
