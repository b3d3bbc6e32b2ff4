'use strict';
// Payload shapes and the multipart reader: the pure pieces.

const test = require('node:test');
const assert = require('node:assert/strict');
const LZMA = require('lzma');
const payload = require('../lib/payload');
const { parseMultipart } = require('../lib/multipart');
const { libraryBody, CT } = require('../testkit/helpers');

test('payloads in every shape restore to the text with the JavaScript LZMA', async (t) => {
  const texts = ['', 'abc', JSON.stringify({ userName: 'Zoë "Z" Ng', deviceType: 'tablet' }), 'x'.repeat(20000)];
  for (const shape of payload.SHAPES) {
    await t.test(shape, () => {
      for (const text of texts) {
        const data = payload.encode(text, shape);
        if (shape === 'base64') {
          assert.ok(Array.isArray(data) && data.length === 1 && typeof data[0] === 'string');
          assert.equal(LZMA.decompress(Array.from(Buffer.from(data[0], 'base64'))), text);
        } else if (shape === 'list') {
          assert.ok(data.every((v) => Number.isInteger(v) && v >= -128 && v <= 127));
          assert.equal(LZMA.decompress(data), text);
        } else {
          assert.equal(typeof data, 'string');
          assert.match(data, /^\[?-?\d+(,-?\d+)*\]?$/);
        }
        assert.equal(payload.decode(data), text);
        // The stand-alone header carries the real size, so size-checking decoders accept it.
        const bytes = payload.compressText(text);
        assert.equal(bytes.readUInt32LE(5), Buffer.byteLength(text));
        assert.equal(bytes.readUInt32LE(9), 0);
      }
    });
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
  assert.equal(payload.decompressBytes(header(0x5d, 65536, 0xffffffff, 0xffffffff)), null);
  assert.equal(payload.decompressBytes(header(0x5d, 65536, 0x7fffffff, 0)), null);
  assert.equal(payload.decompressBytes(header(225, 65536, 10, 0)), null);
  // A garbage stream with a huge dictionary and a small size ends quickly, text or not.
  const r = payload.decompressBytes(header(0x5d, 0xffffffff, 16, 0));
  assert.ok(r === null || Buffer.byteLength(r) <= 16);
  // A declared size of zero is the empty text.
  assert.equal(payload.decode(Buffer.alloc(20).toString('base64')), '');
  assert.equal(payload.decodeValue('garbage'), undefined);
  // A list of Base64 pieces is joined; unreadable pieces are skipped.
  const a = payload.encode('{"a":', 'base64')[0];
  const b = payload.encode('1}', 'base64')[0];
  assert.deepEqual(payload.decodeValue([a, '', '@@', b]), { a: 1 });
  // Non-JSON text stays text.
  assert.equal(payload.decodeValue(payload.encode('plain words', 'list')), 'plain words');
  assert.equal(payload.decodeValue(payload.encode('"p-1"', 'text')), 'p-1');
});

const CRLF = '\r\n';

test('multipart reader accepts the library body', async (t) => {
  const cases = [
    ['image.png', Buffer.from([0x89, 0x50, 0x4e, 0x47, 0, 13, 10, 0xff, 0x2d, 0x2d])],
    ['empty.txt', Buffer.alloc(0)],
    ['quote"in name.txt', Buffer.from('a')],
    ['trailing-crlf.txt', Buffer.from('line\r\n\r\n')],
    ['dashes.bin', Buffer.from('--\r\n----boundar')],
    ['ünïcode.txt', Buffer.from('text')],
  ];
  for (const [name, data] of cases) {
    await t.test(name, () => {
      const out = parseMultipart(libraryBody(name, data), CT);
      assert.equal(out.files.length, 1);
      assert.equal(out.files[0].name, 'files');
      assert.equal(out.files[0].filename, name);
      assert.deepEqual(out.files[0].data, data);
      assert.deepEqual(out.fields, { isTemporary: 'true', clientProvidedGUID: 'false' });
    });
  }
  await t.test('quoted names and quoted boundary', () => {
    const body = Buffer.from(`--XY${CRLF}Content-Disposition: form-data; name="files"; filename="a.txt"${CRLF}` +
      `Content-Type: text/plain${CRLF}${CRLF}hello${CRLF}--XY--${CRLF}`);
    const out = parseMultipart(body, 'multipart/form-data; boundary="XY"');
    assert.equal(out.files[0].name, 'files');
    assert.equal(out.files[0].data.toString(), 'hello');
  });
});

test('multipart reader refuses broken bodies', () => {
  const good = libraryBody('a.txt', Buffer.from('abc'));
  const broken = [
    [good, 'application/json'],
    [good, 'multipart/form-data; boundary=other'],
    [good.slice(0, good.length - 30), CT],
    [Buffer.from('--' + '----boundary' + CRLF + 'Content-Disposition: form-data; name=files'), CT],
    [Buffer.alloc(0), CT],
  ];
  for (const [body, ct] of broken)
    assert.throws(() => parseMultipart(body, ct));
});

