// Prints the text of a PDF file as pdf.js reads it, for the PDF writer's text-layer tests:
// each page's lines, a form feed after each page. A line ends where pdf.js marks an item as the
// end of a line (hasEOL), which is where its viewer puts a line break into copied text, and also
// where the baseline moves to another height without such a mark.
// Usage: node pdfjs_text.mjs FILE.pdf
import { readFile } from 'node:fs/promises';

// pdf.js writes its warnings (no canvas under node, which text does not need) with console.log;
// they go to standard error, so that standard output holds only the pages' text.
console.log = (...args) => console.error(...args);
const { getDocument } = await import('pdfjs-dist/legacy/build/pdf.mjs');

const data = new Uint8Array(await readFile(process.argv[2]));
const pdf = await getDocument({ data, verbosity: 0, useSystemFonts: false }).promise;
let out = '';
for (let n = 1; n <= pdf.numPages; ++n) {
  const page = await pdf.getPage(n);
  const content = await page.getTextContent();
  let line = '';
  let lastY = null;
  for (const item of content.items) {
    if (item.str === undefined) continue;  // a marked-content tag
    const y = item.transform[5];
    if (lastY !== null && line !== '' && Math.abs(y - lastY) > 0.5) {
      out += line + '\n';
      line = '';
    }
    line += item.str;
    lastY = y;
    if (item.hasEOL) {
      out += line + '\n';
      line = '';
    }
  }
  if (line !== '') out += line + '\n';
  out += '\f';
}
process.stdout.write(out);
