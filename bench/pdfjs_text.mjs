// Prints a PDF's text as pdf.js reads it, for bench/ocr_bench.sh: each page's text items in
// order, a line break where pdf.js marks an item as ending a line (hasEOL, where its viewer
// breaks copied text), a form feed after each page, as pdftotext does.
// Usage: node bench/pdfjs_text.mjs NODE_MODULES FILE.pdf
// NODE_MODULES holds pdfjs-dist (bench/ocr_bench.sh installs it into build/bench-node).
import { readFile } from 'node:fs/promises';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

const [modules, file] = process.argv.slice(2);
// pdf.js warns with console.log (no canvas under node, which text does not need): keep standard
// output for the text.
console.log = (...args) => console.error(...args);
const { getDocument } = await import(
  pathToFileURL(join(modules, 'pdfjs-dist/legacy/build/pdf.mjs')).href);

const pdf = await getDocument({ data: new Uint8Array(await readFile(file)), verbosity: 0 }).promise;
let out = '';
for (let n = 1; n <= pdf.numPages; ++n) {
  const content = await (await pdf.getPage(n)).getTextContent();
  for (const item of content.items) {
    if (item.str === undefined) continue;  // a marked-content tag
    out += item.str;
    if (item.hasEOL) out += '\n';
  }
  out += '\n\f';
}
process.stdout.write(out);
