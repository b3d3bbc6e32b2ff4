'use strict';
// Compressed event-bus payloads as devices send and receive them: LZMA (the
// JavaScript implementation devices run), carried as Base64 text, as a list of
// signed byte values, or as that list written as text.

const LZMA = require('lzma');

const SHAPES = ['base64', 'list', 'text'];

function toSigned(bytes) {
  return Array.from(bytes, (b) => (b > 127 ? b - 256 : b));
}

// Compresses a text (UTF-8) and returns the raw LZMA bytes as a Buffer.
function compressText(text) {
  const signed = LZMA.compress(String(text), 1);
  return Buffer.from(signed.map((b) => b & 0xff));
}

// Returns the value to put in a body's "data" member for `text` in `shape`.
// "random" picks one of the three shapes per call.
function encode(text, shape = 'base64') {
  if (shape === 'random' || !shape)
    shape = SHAPES[Math.floor(Math.random() * SHAPES.length)];
  const bytes = compressText(text);
  switch (shape) {
  case 'base64':
    return [bytes.toString('base64')];
  case 'list':
    return toSigned(bytes);
  case 'text': {
    const t = toSigned(bytes).join(',');
    // Both spellings are read alike by the receiver; exercise both.
    return Math.random() < 0.5 ? t : '[' + t + ']';
  }
  default:
    throw new Error('unknown payload shape: ' + shape);
  }
}

// Largest text a device accepts; larger declared sizes are refused unread.
const MAX_TEXT_BYTES = 64 * 1024 * 1024;

// Decompresses raw LZMA bytes (13-byte stand-alone header, then the stream);
// returns the text, or null when they do not decode. The header is checked
// first: the JavaScript decoder runs away on an unknown or zero size and
// allocates whatever dictionary the header names.
function decompressBytes(bytes) {
  if (!bytes || bytes.length < 14 || bytes[0] >= 225)
    return null;
  const size = bytes.readUInt32LE(5);
  if (size === 0xffffffff && bytes.readUInt32LE(9) === 0xffffffff)
    return null;
  if (size === 0)
    return '';
  if (size > MAX_TEXT_BYTES)
    return null;
  const input = Buffer.from(bytes);
  // No dictionary larger than the output is ever needed.
  input.writeUInt32LE(Math.max(4096, Math.min(input.readUInt32LE(1), size)), 1);
  input.writeUInt32LE(0, 9);
  try {
    let out = LZMA.decompress(toSigned(input));
    if (typeof out === 'string')
      out = Buffer.from(out, 'utf8');
    else if (Array.isArray(out))
      out = Buffer.from(out.map((b) => b & 0xff));
    else
      return null;
    // Bytes up to the declared size and the first zero byte, as the presenter reads them.
    out = out.subarray(0, size);
    const zero = out.indexOf(0);
    return (zero >= 0 ? out.subarray(0, zero) : out).toString('utf8');
  } catch (e) {
    return null;
  }
}

function bytesFromList(list) {
  if (!list.every((v) => typeof v === 'number' && Number.isFinite(v)))
    return null;
  return Buffer.from(list.map((v) => Math.trunc(v) & 0xff));
}

function bytesFromListText(text) {
  const parts = text.replace(/[[\]]/g, '').split(',');
  if (!parts.every((p) => /^\s*-?\d+\s*$/.test(p)))
    return null;
  return Buffer.from(parts.map((p) => parseInt(p, 10) & 0xff));
}

const BASE64_RE = /^[A-Za-z0-9+/]*={0,2}$/;

// Restores the text carried in a body's "data" member in any of the shapes:
// a Base64 string, a list of Base64 strings (joined), a byte list, or a byte
// list written as text. Returns null when nothing restores.
function decode(data) {
  if (typeof data === 'string') {
    if (data.includes(',') || data.startsWith('['))
      return decompressBytes(bytesFromListText(data));
    if (!BASE64_RE.test(data))
      return null;
    return decompressBytes(Buffer.from(data, 'base64'));
  }
  if (Array.isArray(data) && data.length > 0) {
    if (typeof data[0] === 'string') {
      let out = null;
      for (const piece of data) {
        if (typeof piece !== 'string' || !piece || !BASE64_RE.test(piece))
          continue;
        const t = decompressBytes(Buffer.from(piece, 'base64'));
        if (t !== null)
          out = (out || '') + t;
      }
      return out;
    }
    return decompressBytes(bytesFromList(data));
  }
  return null;
}

// Many simulated devices in one process receive the same frame; restoring it
// once is enough. Keyed by the Base64 text, bounded in size.
const cache = new Map();
const CACHE_ENTRIES = 32;

function decodeCached(data) {
  const key = Array.isArray(data) && data.length === 1 && typeof data[0] === 'string' ? data[0]
    : typeof data === 'string' ? data : null;
  if (key === null)
    return decode(data);
  if (cache.has(key))
    return cache.get(key);
  const text = decode(data);
  if (cache.size >= CACHE_ENTRIES)
    cache.delete(cache.keys().next().value);
  cache.set(key, text);
  return text;
}

// Restores and parses: JSON value where the text parses, else the text itself,
// else undefined when nothing restores.
function decodeValue(data) {
  const text = decodeCached(data);
  if (text === null)
    return undefined;
  try {
    return JSON.parse(text);
  } catch (e) {
    return text;
  }
}

module.exports = { SHAPES, encode, decode, decodeValue, compressText, decompressBytes };
