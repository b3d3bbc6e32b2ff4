'use strict';
// Test helper: runs the JavaScript LZMA that devices use, the way devices call it.
// stdin:  {"texts": [string...], "payloads": [base64...]}
// stdout: {"compressed": [[signed bytes]...], "restored": [string|null...]}
const fs = require('fs');
const path = require('path');

const LZMA = require(path.join(__dirname, '..', '..', 'sim', 'node_modules', 'lzma'));

const request = JSON.parse(fs.readFileSync(0, 'utf8'));

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
