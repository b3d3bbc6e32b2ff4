'use strict';
// Switches that make the REST interface misbehave the way a real service or
// the network in front of it can: gzip bodies, redirects, hanging requests,
// error statuses, non-JSON pages and HTTP Basic authentication; and one for
// the event bus: a slow way back for a presenter's own publishes.

const zlib = require('zlib');

const NON_JSON_PAGE = '<html><head><title>Maintenance</title></head><body>Service page</body></html>';

function defaults() {
  return { gzip: false, redirect: null, hang: [], fail: {}, nonJson: [], basicAuth: null, collabUrl: null, echoDelay: 0 };
}

class Switches {
  constructor(initial) {
    this.values = Object.assign(defaults(), initial || {});
    this.hanging = new Set();
  }

  reset() {
    this.values = defaults();
  }

  // Validates and merges `patch`; returns an error text or null.
  set(patch) {
    if (!patch || typeof patch !== 'object' || Array.isArray(patch))
      return 'switches must be a JSON object';
    const next = Object.assign({}, this.values);
    for (const [k, v] of Object.entries(patch)) {
      switch (k) {
      case 'gzip':
        if (typeof v !== 'boolean')
          return 'gzip must be a boolean';
        next.gzip = v;
        break;
      case 'redirect':
        if (v !== null && (typeof v !== 'object' || typeof v.host !== 'string' || !v.host))
          return 'redirect must be null or {scheme, host, port}';
        if (v && v.scheme !== undefined && !['http', 'https'].includes(v.scheme))
          return 'redirect.scheme must be http or https';
        next.redirect = v && { scheme: v.scheme || 'http', host: v.host,
          port: v.port === undefined || v.port === null ? null : Number(v.port),
          status: v.status === undefined ? 307 : Number(v.status), once: !!v.once };
        if (next.redirect && (next.redirect.status < 300 || next.redirect.status > 399))
          return 'redirect.status must be 3xx';
        break;
      case 'hang':
      case 'nonJson':
        if (!Array.isArray(v) || !v.every((p) => typeof p === 'string'))
          return k + ' must be a list of paths';
        next[k] = v.slice();
        break;
      case 'fail':
        if (!v || typeof v !== 'object' || Array.isArray(v))
          return 'fail must be an object {path: {status, body}}';
        for (const entry of Object.values(v)) {
          if (!entry || typeof entry !== 'object' || !Number.isInteger(entry.status) || entry.status < 100 || entry.status > 599)
            return 'fail entries need an integer status 100..599';
        }
        next.fail = JSON.parse(JSON.stringify(v));
        break;
      case 'collabUrl':
        if (v !== null && (typeof v !== 'string' || !/^https?:\/\//.test(v)))
          return 'collabUrl must be null or an http(s) URL';
        next.collabUrl = v;
        break;
      case 'echoDelay':
        if (!Number.isInteger(v) || v < 0 || v > 60000)
          return 'echoDelay must be an integer 0..60000 (ms)';
        next.echoDelay = v;
        break;
      case 'basicAuth':
        if (v !== null && (typeof v !== 'object' || typeof v.user !== 'string' || typeof v.password !== 'string'))
          return 'basicAuth must be null or {user, password}';
        next.basicAuth = v && { user: v.user, password: v.password };
        break;
      default:
        return 'unknown switch: ' + k;
      }
    }
    this.values = next;
    return null;
  }

  // Sends a JSON (or, for a text `body` given as a string, plain) answer,
  // gzip-encoded when the switch says so.
  sendJson(res, status, body, isText) {
    const text = isText ? String(body) : JSON.stringify(body);
    res.status(status);
    res.set('Content-Type', isText ? 'text/html; charset=utf-8' : 'application/json; charset=utf-8');
    if (this.values.gzip) {
      res.set('content-encoding', 'gzip');
      res.end(zlib.gzipSync(Buffer.from(text, 'utf8')));
    } else {
      res.end(text);
    }
  }

  // Applies the switches to a REST request. Returns true when the request
  // has been taken care of (answered, or left hanging).
  intercept(req, res) {
    const v = this.values;
    const path = req.baseUrl + (req.path === '/' ? '' : req.path);
    if (v.basicAuth && !basicAuthMatches(req.get('authorization'), v.basicAuth)) {
      res.set('WWW-Authenticate', 'Basic realm="quorvane"');
      this.sendJson(res, 401, { errorMsgKeys: ['error.authenticationRequired'] });
      return true;
    }
    if (v.redirect) {
      const r = v.redirect;
      if (r.once)
        this.values = Object.assign({}, v, { redirect: null });
      const port = r.port ? ':' + r.port : '';
      res.status(r.status).set('Location', `${r.scheme}://${r.host}${port}${req.originalUrl}`);
      this.sendJson(res, r.status, { infoMsgKeys: ['moved'] });
      return true;
    }
    if (v.hang.includes(path)) {
      // Never answered; the socket is closed at shutdown or by the client.
      this.hanging.add(res);
      res.on('close', () => this.hanging.delete(res));
      return true;
    }
    if (Object.prototype.hasOwnProperty.call(v.fail, path)) {
      const f = v.fail[path];
      const body = f.body === undefined ? { errorMsgKeys: ['error.injected'] } : f.body;
      this.sendJson(res, f.status, body, typeof body === 'string');
      return true;
    }
    if (v.nonJson.includes(path)) {
      this.sendJson(res, 200, NON_JSON_PAGE, true);
      return true;
    }
    return false;
  }

  destroyHanging() {
    for (const res of this.hanging)
      res.destroy();
    this.hanging.clear();
  }
}

function basicAuthMatches(header, want) {
  const m = /^Basic\s+(\S+)$/i.exec(header || '');
  if (!m)
    return false;
  const decoded = Buffer.from(m[1], 'base64').toString('utf8');
  return decoded === want.user + ':' + want.password;
}

module.exports = { Switches, NON_JSON_PAGE };
