'use strict';
// Payload shapes and the multipart reader: the pure pieces.

const test = require('node:test');
const assert = require('node:assert/strict');
const LZMA = require('lzma');
const payload = require('../lib/payload');
const { parseMultipart } = require('../lib/multipart');
const { libraryBody, CT } = require('../testkit/helpers');

test('payloads in every shape restore to the text with the JavaScript LZMA', () => {
  const toList = { base64: (d) => Array.from(Buffer.from(d[0], 'base64')), list: (d) => d,
    text: (d) => JSON.parse('[' + d.replace(/^\[|\]$/g, '') + ']') };
  for (const text of ['', 'abc', JSON.stringify({ userName: 'Zoë "Z" Ng', deviceType: 'tablet' }), 'x'.repeat(20000)]) {
    for (const shape of payload.SHAPES) {
      const data = payload.encode(text, shape);
      assert.ok(shape === 'base64' ? data.length === 1 && typeof data[0] === 'string'
        : shape === 'list' ? Array.isArray(data) : /^\[?-?\d+(,-?\d+)*\]?$/.test(data), shape);
      const bytes = toList[shape](data);
      // Signed bytes, as devices send them.
      assert.ok(shape === 'base64' || bytes.every((v) => Number.isInteger(v) && v >= -128 && v <= 127), shape);
      assert.equal(LZMA.decompress(bytes), text, shape);
      assert.equal(payload.decode(data), text, shape);
    }
    // The stand-alone header carries the real size, so size-checking decoders accept it.
    const bytes = payload.compressText(text);
    assert.equal(bytes.readUInt32LE(5), Buffer.byteLength(text));
    assert.equal(bytes.readUInt32LE(9), 0);
  }
});

test('what does not restore is reported as such, not thrown', () => {
  for (const data of [undefined, null, 42, {}, [], 'not base64!', ['@@@'], [1, 2, 3], 'AAAA',
    [93, 0, 0, 1, 0, 'x'], '1,2,x'])
    assert.equal(payload.decode(data), null, JSON.stringify(data));
  // Hostile headers are refused before decoding: unknown size, oversized, bad properties.
  const header = (props, dict, lo, hi) => {
    const b = Buffer.alloc(40, 0x55);
    b[0] = props;
    b.writeUInt32LE(dict, 1);
    b.writeUInt32LE(lo, 5);
    b.writeUInt32LE(hi, 9);
    return b;
  };
  for (const [props, lo, hi] of [[0x5d, 0xffffffff, 0xffffffff], [0x5d, 0x7fffffff, 0], [225, 10, 0]])
    assert.equal(payload.decompressBytes(header(props, 65536, lo, hi)), null);
  // A garbage stream with a huge dictionary and a small size ends quickly, text or not.
  const r = payload.decompressBytes(header(0x5d, 0xffffffff, 16, 0));
  assert.ok(r === null || Buffer.byteLength(r) <= 16);
  // A declared size of zero is the empty text.
  assert.equal(payload.decode(Buffer.alloc(20).toString('base64')), '');
  assert.equal(payload.decodeValue('garbage'), undefined);
  // A list of Base64 pieces is joined; unreadable pieces are skipped.
  const [a, b] = ['{"a":', '1}'].map((t) => payload.encode(t, 'base64')[0]);
  assert.deepEqual(payload.decodeValue([a, '', '@@', b]), { a: 1 });
  // Non-JSON text stays text.
  assert.equal(payload.decodeValue(payload.encode('plain words', 'list')), 'plain words');
  assert.equal(payload.decodeValue(payload.encode('"p-1"', 'text')), 'p-1');
});

test('multipart reader accepts the library body and refuses broken ones', () => {
  for (const [name, data] of [
    ['image.png', Buffer.from([0x89, 0x50, 0x4e, 0x47, 0, 13, 10, 0xff, 0x2d, 0x2d])],
    ['empty.txt', Buffer.alloc(0)],
    ['quote"in name.txt', Buffer.from('a')],
    ['trailing-crlf.txt', Buffer.from('line\r\n\r\n')],
    ['dashes.bin', Buffer.from('--\r\n----boundar')],
    ['ünïcode.txt', Buffer.from('text')],
  ]) {
    const out = parseMultipart(libraryBody(name, data), CT);
    assert.deepEqual(out.files.map((f) => [f.name, f.filename, f.data]), [['files', name, data]], name);
    assert.deepEqual(out.fields, { isTemporary: 'true', clientProvidedGUID: 'false' });
  }
  // Quoted names and a quoted boundary.
  const quoted = parseMultipart(Buffer.from('--XY\r\nContent-Disposition: form-data; name="files"; filename="a.txt"\r\n' +
    'Content-Type: text/plain\r\n\r\nhello\r\n--XY--\r\n'), 'multipart/form-data; boundary="XY"');
  assert.deepEqual(quoted.files.map((f) => [f.name, f.data.toString()]), [['files', 'hello']]);

  const good = libraryBody('a.txt', Buffer.from('abc'));
  for (const [body, ct] of [[good, 'application/json'], [good, 'multipart/form-data; boundary=other'],
    [good.slice(0, good.length - 30), CT], [Buffer.from('------boundary\r\nContent-Disposition: form-data; name=files'), CT],
    [Buffer.alloc(0), CT]])
    assert.throws(() => parseMultipart(body, ct));
});
