'use strict';
// Shared pieces of the stand-in's tests: an in-process service, HTTP clients, a test presenter on the bus.

const assert = require('node:assert/strict');
const http = require('http');
const https = require('https');
const SockJS = require('sockjs-client');
const { StandInApp } = require('../lib/app');

const WAIT_MS = 15000;

async function startApp(opts = {}) {
  const app = new StandInApp({ log: () => {}, ...opts });
  return app.start().then(() => app);
}

// One HTTP exchange, bounded; resolves {status, headers, json (when the answer is JSON)}.
function request(url, { method = 'POST', body = '', headers = {}, ca } = {}) {
  const data = Buffer.from(method === 'GET' ? '' : typeof body === 'string' ? body : JSON.stringify(body));
  headers = { 'Content-Type': 'application/json; charset=UTF-8', 'Content-Length': data.length, ...headers };
  return new Promise((resolve, reject) => {
    const req = (url.startsWith('https:') ? https : http).request(url, { method, headers, ca, agent: false }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers,
        json: /json/.test(res.headers['content-type']) ? JSON.parse(Buffer.concat(chunks)) : undefined }));
    });
    req.setTimeout(WAIT_MS, () => req.destroy(new Error('request timed out: ' + url)));
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
    const res = await request(this.server + '/quorvane' + path,
      { body, headers: { ...(this.cookie && { Cookie: this.cookie }), ...headers }, ca: this.ca });
    for (const c of res.headers['set-cookie'] || [])
      this.cookie = /=$/.test(c.split(';')[0]) ? null : c.split(';')[0];
    return res;
  }

  async signIn(userId = 'teacher', password = 'veltro') {
    assert.equal((await this.post('/login/submit', { userId, password })).status, 200, 'sign-in of ' + userId);
  }

  // Signs in as the teacher, creates and starts a session; returns {code, token, presenterToken, collab}.
  async startSession() {
    await this.signIn();
    const data = async (path, body) => (await this.post(path, body)).json.data;
    const code = (await data('/session/create', {})).sessionCode;
    const collab = (await data('/session/getcollabserverurl', {})).url;
    const token = (await data('/session/start', { sessionCode: code, serverUrl: collab })).sessionToken;
    const presenterToken = (await data('/classroom/session/join', { sessionCode: code, mode: 'presenter' })).userToken;
    return { code, token, presenterToken, collab };
  }
}

// Resolves with `pred()` once it is truthy; rejects after `ms`.
async function waitFor(pred, ms = WAIT_MS, what = 'condition') {
  for (const end = Date.now() + ms; Date.now() < end; await new Promise((r) => setTimeout(r, 10))) {
    const v = pred();
    if (v)
      return v;
  }
  throw new Error('timed out waiting for ' + what);
}

// A bus connection over `transport`, resolved once open; it keeps the frames it receives.
function connect(collabUrl, { transport = 'websocket', ca } = {}) {
  const sock = new SockJS(collabUrl + '/eventbus', null,
    { transports: [transport], timeout: WAIT_MS, transportOptions: { websocket: { tls: { ca } } } });
  sock.frames = [];
  sock.onmessage = (e) => sock.frames.push(JSON.parse(e.data));
  sock.json = (frame) => sock.send(JSON.stringify(frame));
  sock.of = (type) => sock.frames.filter((f) => f.body && f.body.type === type);
  return new Promise((resolve, reject) => {
    sock.onopen = () => resolve(sock);
    sock.onclose = (e) => reject(new Error('closed: ' + e.code + ' ' + e.reason));
  });
}

// Registers a presenter on its three addresses; waits for the bus to hold them.
async function presenter(app, s, opts) {
  const p = await connect(s.collab, opts);
  const own = s.token + '.presenter.' + s.presenterToken;
  for (const address of [s.token, s.token + '.presenter', own])
    p.json({ type: 'register', address });
  if (app.bus) // in-process service: wait until the bridge holds the registration
    await waitFor(() => app.bus.registry.has(own), WAIT_MS, 'presenter registration');
  return p;
}

function control(app, method, path, body = {}) {
  return request(app.urls.control + path, { method, body, ca: app.tls && app.tls.ca });
}

module.exports = { startApp, request, RestClient, connect, presenter, waitFor, control };
