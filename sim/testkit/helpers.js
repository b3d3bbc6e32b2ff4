'use strict';
// Shared pieces of the stand-in's tests: an in-process service, a raw HTTP
// client with a cookie, and a test presenter on the event bus.

const http = require('http');
const https = require('https');
const SockJS = require('sockjs-client');
const { StandInApp } = require('../lib/app');
const payload = require('../lib/payload');

const WAIT_MS = 15000;

async function startApp(opts = {}) {
  const app = new StandInApp(Object.assign({ log: () => {} }, opts));
  await app.start();
  return app;
}

// One HTTP exchange; resolves {status, headers, body (Buffer), json}.
function request(url, { method = 'POST', body, headers = {}, ca, timeout = WAIT_MS } = {}) {
  return new Promise((resolve, reject) => {
    const data = body === undefined ? Buffer.alloc(0)
      : Buffer.isBuffer(body) ? body : Buffer.from(typeof body === 'string' ? body : JSON.stringify(body));
    const h = Object.assign({ 'Content-Type': 'application/json; charset=UTF-8', 'Content-Length': data.length,
      'accept-encoding': 'identity' }, headers);
    const req = (url.startsWith('https:') ? https : http).request(url, { method, headers: h, ca, agent: false }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => {
        const buf = Buffer.concat(chunks);
        let json;
        try {
          json = JSON.parse(buf.toString('utf8'));
        } catch (e) { /* not JSON: json stays undefined */ }
        resolve({ status: res.statusCode, headers: res.headers, body: buf, json });
      });
    });
    req.setTimeout(timeout, () => req.destroy(new Error('request timed out: ' + url)));
    req.on('error', reject);
    req.end(data);
  });
}

// A REST client that keeps the sign-in cookie like the library's cookie jar.
class RestClient {
  constructor(server, ca) {
    Object.assign(this, { server, ca, cookie: null });
  }

  async post(path, body, headers = {}) {
    const res = await request(this.server + path,
      { body, headers: Object.assign(this.cookie ? { Cookie: this.cookie } : {}, headers), ca: this.ca });
    for (const c of res.headers['set-cookie'] || []) {
      const pair = c.split(';')[0];
      this.cookie = /=$/.test(pair) ? null : pair;
    }
    return res;
  }

  async signIn(user = 'teacher', password = 'veltro') {
    const res = await this.post('/quorvane/login/submit', { userId: user, password, sourceSystem: 'Nimbra' });
    if (res.status !== 200)
      throw new Error('sign-in failed: ' + res.status);
    return res;
  }

  // Signs in, creates and starts a session; returns {code, token, presenterToken, collab}.
  async startSession() {
    if (!this.cookie)
      await this.signIn();
    const data = async (path, body) => (await this.post('/quorvane' + path, body)).json.data;
    const code = (await data('/session/create', {})).sessionCode;
    const collab = (await data('/session/getcollabserverurl', {})).url;
    const token = (await data('/session/start',
      { sessionCode: code, serverUrl: collab, sourceSystem: 'Nimbra', version: '3.0.0' })).sessionToken;
    const presenterToken = (await data('/classroom/session/join', { userName: 'SessionStarter', sessionCode: code,
      mode: 'presenter', deviceName: 'teacher_SessionStarter', deviceType: 'presenter' })).userToken;
    return { code, token, presenterToken, collab };
  }
}

// Resolves with `pred()` once it is truthy; rejects after `ms`.
async function waitFor(pred, ms = WAIT_MS, what = 'condition') {
  for (const end = Date.now() + ms; ;) {
    const v = pred();
    if (v)
      return v;
    if (Date.now() > end)
      throw new Error('timed out waiting for ' + what);
    await new Promise((r) => setTimeout(r, 10));
  }
}

// A bus client: a test presenter, or any raw connection.
class BusClient {
  constructor(collabUrl, { transport = 'websocket', ca } = {}) {
    this.frames = [];
    const options = { transports: [transport], timeout: WAIT_MS };
    if (ca)
      options.transportOptions = { websocket: { tls: { ca } } };
    this.sock = new SockJS(collabUrl + '/eventbus', null, options);
    this.opened = new Promise((resolve, reject) => {
      this.sock.onopen = resolve;
      this.sock.onclose = (e) => reject(new Error('closed: ' + e.code + ' ' + e.reason));
    });
    this.sock.onmessage = (e) => {
      let f;
      try {
        f = JSON.parse(e.data);
      } catch (err) {
        f = { unparsed: e.data };
      }
      if (f.body && f.body.data !== undefined)
        f.decoded = payload.decodeValue(f.body.data);
      this.frames.push(f);
    };
  }

  send(frame) {
    this.sock.send(typeof frame === 'string' ? frame : JSON.stringify(frame));
  }

  register(address) {
    this.send({ type: 'register', address });
  }

  // Publishes in the library's envelope form: data compressed as Base64 in a list.
  publish(address, from, type, data) {
    this.send({ type: 'publish', address, body: { from, type, data: payload.encode(JSON.stringify(data), 'base64') } });
  }

  of(type, from) {
    return this.frames.filter((f) => f.body && f.body.type === type && (!from || f.body.from === from));
  }

  // The departures announced to this client: [{token, type}].
  departures() {
    return this.frames.filter((f) => f.body && f.body.action === 'unregister').map((f) => f.body.client);
  }

  close() {
    this.sock.close();
  }
}

// Registers a presenter on its three addresses; waits for the bus to hold them.
async function presenter(app, session, opts) {
  const p = new BusClient(session.collab, opts);
  await p.opened;
  const own = session.token + '.presenter.' + session.presenterToken;
  for (const a of [session.token, session.token + '.presenter', own])
    p.register(a);
  if (app.bus) // in-process service: wait until the bridge holds the registration
    await waitFor(() => app.bus.registry.has(own), WAIT_MS, 'presenter registration');
  return p;
}

function control(app, method, path, body) {
  return request(app.urls.control + path,
    { method, body: method === 'GET' ? undefined : (body || {}), ca: app.tls && app.tls.ca });
}

const CRLF = '\r\n';
// The body the presenter library sends for an upload, byte for byte.
function libraryBody(fileName, data) {
  const b = '----boundary';
  const value = (name, v, last) => `Content-Disposition: form-data; name=${name}${CRLF}` +
    `Content-Type: text/plain; charset=utf-8${CRLF}${CRLF}${v}${CRLF}--${b}${last ? '--' : ''}${CRLF}${CRLF}`;
  return Buffer.concat([
    Buffer.from(`--${b}${CRLF}Content-Disposition: form-data; name=files; filename="${fileName}"${CRLF}${CRLF}`),
    data,
    Buffer.from(`${CRLF}--${b}${CRLF}${CRLF}` + value('isTemporary', 'true', false) + value('clientProvidedGUID', 'false', true)),
  ]);
}
const CT = 'multipart/form-data; charset=UTF-8; boundary=----boundary';

module.exports = { libraryBody, CT, startApp, request, RestClient, BusClient, presenter, waitFor, control, WAIT_MS };
