'use strict';
// Test helper: runs the JavaScript LZMA that devices use on the texts and
// payloads of a request file, the way devices call it.
//   node lzmajs.js <request.json>
// request: {"texts": [string...], "payloads": [base64...]}
// prints:  {"compressed": [[signed bytes]...], "restored": [string|null...]}
const fs = require('fs');
const path = require('path');

const root = process.env.VELTRO_SOURCE_DIR;
if (!root) {
  process.stderr.write('VELTRO_SOURCE_DIR is not set\n');
  process.exit(2);
}
const LZMA = require(path.join(root, 'sim', 'node_modules', 'lzma'));

const request = JSON.parse(fs.readFileSync(process.argv[2], 'utf8'));

const compressed = request.texts.map((t) => LZMA.compress(t, 1));
const restored = request.payloads.map((b64) => {
  try {
    const out = LZMA.decompress(Array.from(Buffer.from(b64, 'base64'), (b) => (b > 127 ? b - 256 : b)));
    // Texts that its own UTF-8 reader rejects (four-byte sequences) come back
    // as bytes; devices decode those as UTF-8 themselves.
    if (typeof out === 'string')
      return out;
    return Buffer.from(Array.from(out, (b) => b & 0xff)).toString('utf8');
  } catch (e) {
    return null;
  }
});
process.stdout.write(JSON.stringify({ compressed, restored }));
