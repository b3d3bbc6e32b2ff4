'use strict';
// Payload shapes as devices send and read them.

const test = require('node:test');
const assert = require('node:assert/strict');
const LZMA = require('lzma');
const payload = require('../lib/payload');

test('payloads restore in every shape, lists carry signed bytes as devices send them, the rest is null', () => {
  const bytesOf = { base64: (d) => [...Buffer.from(d[0], 'base64')], list: (d) => d,
    text: (d) => JSON.parse('[' + d.replace(/^\[|\]$/g, '') + ']') };
  for (const text of ['', JSON.stringify({ userName: 'Zoë "Z" Ng', deviceType: 'tablet' }), 'x'.repeat(20000)]) {
    for (const shape of payload.SHAPES) {
      const data = payload.encode(text, shape);
      const bytes = bytesOf[shape](data);
      assert.ok(shape === 'base64' || bytes.every((v) => Number.isInteger(v) && v >= -128 && v <= 127), shape);
      assert.equal(LZMA.decompress(bytes), text, shape);
      assert.equal(payload.decode(data), text, shape);
    }
  }
  // What does not restore is null, not thrown; hostile headers are refused unread.
  // Stand-alone headers (properties, dictionary, size) with an unknown size, an oversized one, bad properties.
  const hostile = ['5d00000100ffffffffffffffff', '5d00000100ffffff7f00000000', 'e1000001000a00000000000000']
    .map((h) => Buffer.from(h + '55'.repeat(27), 'hex').toString('base64'));
  for (const data of [undefined, null, 42, {}, [], 'not base64!', ['@@@'], [1, 2, 3], 'AAAA', '1,2,x', ...hostile])
    assert.equal(payload.decode(data), null, JSON.stringify(data));
  // A declared size of zero is the empty text.
  assert.equal(payload.decode(Buffer.alloc(20).toString('base64')), '');
});
