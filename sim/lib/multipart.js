'use strict';
// A small multipart/form-data reader that accepts what the presenter library
// sends: part names without quotes, a quoted file name (taken up to the last
// quote, so a name holding a quote survives), no Content-Type on the file
// part, and blank lines between a delimiter and the next part's headers.

function boundaryOf(contentType) {
  const m = /(?:^|;)\s*boundary=("([^"]*)"|[^;\s]*)/i.exec(contentType || '');
  if (!m)
    return null;
  return m[2] !== undefined ? m[2] : m[1];
}

function parseDisposition(line) {
  const out = {};
  const nameM = /;\s*name=("([^"]*)"|[^;\r\n]*)/i.exec(line);
  if (nameM)
    out.name = nameM[2] !== undefined ? nameM[2] : nameM[1].trim();
  const fileIdx = line.search(/;\s*filename=/i);
  if (fileIdx >= 0) {
    let v = line.slice(line.indexOf('=', fileIdx) + 1).trim();
    if (v.startsWith('"') && v.lastIndexOf('"') > 0)
      v = v.slice(1, v.lastIndexOf('"'));
    out.filename = v;
  }
  return out;
}

// Parses `body` (a Buffer). Returns {fields: {name: text}, files: [{name,
// filename, data: Buffer, headers}]}, or throws an Error with a reason.
function parseMultipart(body, contentType) {
  const boundary = boundaryOf(contentType);
  if (!boundary)
    throw new Error('no boundary');
  const delim = Buffer.from('--' + boundary);
  const CRLF = Buffer.from('\r\n');
  let pos = body.indexOf(delim);
  if (pos < 0)
    throw new Error('no delimiter');
  const fields = {};
  const files = [];
  let closed = false;
  for (;;) {
    pos += delim.length;
    if (body[pos] === 0x2d && body[pos + 1] === 0x2d) { // closing "--"
      closed = true;
      break;
    }
    // Rest of the delimiter line.
    const eol = body.indexOf(CRLF, pos);
    if (eol < 0)
      break;
    pos = eol + 2;
    // Blank lines before the headers.
    while (body[pos] === 0x0d && body[pos + 1] === 0x0a)
      pos += 2;
    const headerEnd = body.indexOf('\r\n\r\n', pos);
    if (headerEnd < 0)
      throw new Error('part without header end');
    const headers = {};
    for (const line of body.slice(pos, headerEnd).toString('utf8').split('\r\n')) {
      const c = line.indexOf(':');
      if (c > 0)
        headers[line.slice(0, c).trim().toLowerCase()] = line.slice(c + 1).trim();
    }
    const start = headerEnd + 4;
    const next = body.indexOf(Buffer.concat([CRLF, delim]), start);
    if (next < 0)
      throw new Error('part without closing delimiter');
    const data = body.slice(start, next);
    const disp = parseDisposition('; ' + (headers['content-disposition'] || ''));
    if (disp.filename !== undefined)
      files.push({ name: disp.name, filename: disp.filename, data, headers });
    else if (disp.name !== undefined)
      fields[disp.name] = data.toString('utf8');
    pos = next + 2;
  }
  if (!closed)
    throw new Error('no closing delimiter');
  return { fields, files };
}

module.exports = { parseMultipart, boundaryOf };
