'use strict';
// REST switches set through the control interface, and TLS.

const test = require('node:test');
const assert = require('node:assert/strict');
const zlib = require('zlib');
const { startApp, RestClient, request, control, presenter, waitFor } = require('../testkit/helpers');

let app;
test.before(async () => { app = await startApp({ answerDelay: [5, 20] }); });
test.after(() => app.stop());
test.afterEach(() => control(app, 'POST', '/reset'));

const set = async (sw) => {
  const res = await control(app, 'POST', '/switches', sw);
  assert.equal(res.status, 200, JSON.stringify(res.json));
  return res.json;
};

test('gzip answers carry the header and inflate to the JSON', async () => {
  await set({ gzip: true });
  const c = new RestClient(app.urls.server);
  for (const [path, status] of [['/quorvane', 200], ['/quorvane/session/create', 401]]) {
    const res = await c.post(path, {});
    assert.equal(res.status, status);
    assert.equal(res.headers['content-encoding'], 'gzip');
    const json = JSON.parse(zlib.gunzipSync(res.body).toString());
    assert.ok(status === 200 ? json.data : json.errorMsgKeys[0].includes('error'));
  }
  // Sign-in still sets its cookie under gzip.
  await c.post('/quorvane/login/submit', { userId: 'teacher', password: 'veltro' });
  assert.ok(c.cookie);
});

test('redirect answers 3xx to the same path on the given origin', async (t) => {
  const cases = [
    [{ scheme: 'https', host: 'example.test', port: 8443 }, 307, 'https://example.test:8443/quorvane/login/user?x=1'],
    [{ scheme: 'http', host: 'localhost', port: 80, status: 301 }, 301, 'http://localhost:80/quorvane/login/user?x=1'],
    [{ host: '127.0.0.1' }, 307, 'http://127.0.0.1/quorvane/login/user?x=1'],
  ];
  for (const [redirect, status, location] of cases) {
    await t.test(location, async () => {
      await set({ redirect });
      const res = await request(app.urls.server + '/quorvane/login/user?x=1', { body: {} });
      assert.equal(res.status, status);
      assert.equal(res.headers.location, location);
    });
  }
  await t.test('once', async () => {
    await set({ redirect: { host: 'localhost', port: app.urls.port, once: true } });
    assert.equal((await request(app.urls.rest, { body: '' })).status, 307);
    assert.equal((await request(app.urls.rest, { body: '' })).status, 200);
  });
});

test('hang, fail and non-JSON act on their paths only', async () => {
  await set({
    hang: ['/quorvane/login/keepSessionAlive'],
    fail: { '/quorvane/session/create': { status: 503, body: { errorMsgKeys: ['error.maintenance'] } },
      '/quorvane': { status: 500, body: 'plain failure' } },
    nonJson: ['/quorvane/login/user'],
  });
  const c = new RestClient(app.urls.server);
  await c.signIn();
  const hung = request(app.urls.rest + '/login/keepSessionAlive', { body: '', timeout: 400 });
  await assert.rejects(hung, /timed out/);
  const failed = await c.post('/quorvane/session/create', {});
  assert.equal(failed.status, 503);
  assert.deepEqual(failed.json.errorMsgKeys, ['error.maintenance']);
  const text = await c.post('/quorvane', '');
  assert.equal(text.status, 500);
  assert.equal(text.body.toString(), 'plain failure');
  const page = await c.post('/quorvane/login/user', {});
  assert.equal(page.status, 200);
  assert.equal(page.json, undefined);
  assert.match(page.body.toString(), /<html>/);
  // Other paths are untouched.
  assert.equal((await c.post('/quorvane/session/getcollabserverurl', {})).status, 200);
});

test('HTTP Basic authentication guards the service', async () => {
  await set({ basicAuth: { user: 'proxy', password: 's3cret' } });
  const res = await request(app.urls.rest, { body: '' });
  assert.equal(res.status, 401);
  assert.match(res.headers['www-authenticate'], /^Basic /);
  const wrong = 'Basic ' + Buffer.from('proxy:wrong').toString('base64');
  assert.equal((await request(app.urls.rest, { body: '', headers: { Authorization: wrong } })).status, 401);
  const right = 'Basic ' + Buffer.from('proxy:s3cret').toString('base64');
  assert.equal((await request(app.urls.rest, { body: '', headers: { Authorization: right } })).status, 200);
});

test('switches refuse bad values, and devices are exempt from them', async () => {
  for (const bad of [{ hang: '/quorvane' }, { fail: { '/quorvane': { status: 'x' } } }, { gzip: true, colour: 'red' }]) {
    const res = await control(app, 'POST', '/switches', bad);
    assert.equal(res.status, 400, JSON.stringify(bad));
  }
  assert.equal((await control(app, 'GET', '/info')).json.switches.gzip, false);
  // A running classroom keeps working while the service misbehaves for the presenter.
  const c = new RestClient(app.urls.server);
  const s = await c.startSession();
  await set({ basicAuth: { user: 'u', password: 'p' }, fail: { '/quorvane/classroom/session/join': { status: 500 } } });
  const p = await presenter(app, s);
  const res = await control(app, 'POST', '/learners', { sessionCode: s.code, count: 2 });
  assert.equal(res.status, 200);
  await waitFor(() => p.of('join').length === 2);
  p.close();
});

test('TLS: certificate generated for loopback, reported CA file verifies it', async () => {
  const fs = require('fs');
  const tlsApp = await startApp({ tls: true, answerDelay: [5, 20] });
  try {
    assert.match(tlsApp.urls.server, /^https:\/\/127\.0\.0\.1:\d+$/);
    const ca = fs.readFileSync(tlsApp.urls.caFile);
    const ok = await request(tlsApp.urls.rest, { body: '', ca });
    assert.equal(ok.status, 200);
    await assert.rejects(request(tlsApp.urls.rest, { body: '' }), /self.signed|unable to (get|verify)|certificate/i);
    // The whole classroom runs over TLS: devices over wss and https.
    const c = new RestClient(tlsApp.urls.server, ca);
    const s = await c.startSession();
    assert.match(s.collab, /^https:/);
    const p = await presenter(tlsApp, s, { ca });
    for (const transport of ['websocket', 'xhr-polling'])
      assert.equal((await control(tlsApp, 'POST', '/learners', { sessionCode: s.code, count: 1, transport })).status, 200);
    await waitFor(() => p.of('join').length === 2);
    p.close();
  } finally {
    await tlsApp.stop();
  }
  assert.equal(fs.existsSync(tlsApp.urls.caFile), false);
});
