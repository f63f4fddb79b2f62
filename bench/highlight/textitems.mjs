// SPDX-License-Identifier: GPL-3.0-or-later
// The words of a PDF's first page as pdf.js lays out its text layer (what its search highlights):
// node textitems.mjs FILE.pdf, with PDFJS naming the pdfjs-dist folder. Prints JSON.
import { createRequire } from 'module'; const require = createRequire(import.meta.url); const pdfjs = require(process.env.PDFJS + '/legacy/build/pdf.js');
import fs from 'fs';
const doc = await pdfjs.getDocument({data: new Uint8Array(fs.readFileSync(process.argv[2])), verbosity: 0}).promise;
const page = await doc.getPage(1);
const vp = page.getViewport({scale: 1});
const tc = await page.getTextContent({disableCombineTextItems: false});
const out = [];
for (const it of tc.items) {
  if (!it.str.trim()) continue;
  // the item's box in viewport space (top-left origin), as the viewer's text layer places it
  const m = pdfjs.Util.transform(vp.transform, it.transform);
  const ang = Math.atan2(m[1], m[0]);
  const fh = Math.hypot(m[2], m[3]);
  const w = it.width; // in page units along the text
  const x0 = m[4], y0 = m[5];
  const dx = Math.cos(ang), dy = Math.sin(ang);
  const ux = Math.sin(ang), uy = -Math.cos(ang); // up from the baseline
  const pts = [[x0, y0], [x0 + dx*w, y0 + dy*w], [x0 + ux*fh, y0 + uy*fh], [x0 + dx*w + ux*fh, y0 + dy*w + uy*fh]];
  const xs = pts.map(p => p[0]), ys = pts.map(p => p[1]);
  // the viewer's span is stretched to the item's width: a word sits in it by its characters
  const words = it.str.split(' '); let at = 0; const n = it.str.length;
  for (const word of words) {
    if (word) {
      const f0 = at / n, f1 = (at + word.length) / n;
      const p0 = [x0 + dx*w*f0, y0 + dy*w*f0], p1 = [x0 + dx*w*f1, y0 + dy*w*f1];
      const q = [p0, p1, [p0[0] + ux*fh, p0[1] + uy*fh], [p1[0] + ux*fh, p1[1] + uy*fh]];
      const qx = q.map(p => p[0]), qy = q.map(p => p[1]);
      out.push([word, Math.min(...qx), Math.min(...qy), Math.max(...qx), Math.max(...qy)]);
    }
    at += word.length + 1;
  }
}
console.log(JSON.stringify({w: vp.width, h: vp.height, items: out}));
