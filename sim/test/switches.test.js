'use strict';
// REST switches set through the control interface, and TLS.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const zlib = require('zlib');
const { startApp, RestClient, request, control, presenter, waitFor } = require('../testkit/helpers');

let app;
test.before(async () => { app = await startApp({ answerDelay: [5, 20] }); });
test.after(() => app.stop());
test.afterEach(() => control(app, 'POST', '/reset'));

const set = async (sw) => {
  const res = await control(app, 'POST', '/switches', sw);
  assert.equal(res.status, 200, JSON.stringify(res.json));
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

test('redirect answers 3xx to the same path on the given origin', async () => {
  for (const [redirect, status, location] of [
    [{ scheme: 'https', host: 'example.test', port: 8443 }, 307, 'https://example.test:8443/quorvane/login/user?x=1'],
    [{ scheme: 'http', host: 'localhost', port: 80, status: 301 }, 301, 'http://localhost:80/quorvane/login/user?x=1'],
    [{ host: '127.0.0.1' }, 307, 'http://127.0.0.1/quorvane/login/user?x=1'],
  ]) {
    await set({ redirect });
    const res = await request(app.urls.server + '/quorvane/login/user?x=1', { body: {} });
    assert.deepEqual([res.status, res.headers.location], [status, location]);
  }
  await set({ redirect: { host: 'localhost', port: app.urls.port, once: true } });
  assert.equal((await request(app.urls.rest, { body: '' })).status, 307);
  assert.equal((await request(app.urls.rest, { body: '' })).status, 200);
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
  await assert.rejects(request(app.urls.rest + '/login/keepSessionAlive', { body: '', timeout: 400 }), /timed out/);
  const failed = await c.post('/quorvane/session/create', {});
  assert.deepEqual([failed.status, failed.json.errorMsgKeys], [503, ['error.maintenance']]);
  const text = await c.post('/quorvane', '');
  assert.deepEqual([text.status, text.body.toString()], [500, 'plain failure']);
  const page = await c.post('/quorvane/login/user', {});
  assert.ok(page.status === 200 && page.json === undefined && /<html>/.test(page.body.toString()));
  // Other paths are untouched.
  assert.equal((await c.post('/quorvane/session/getcollabserverurl', {})).status, 200);
});

test('HTTP Basic authentication guards the service', async () => {
  await set({ basicAuth: { user: 'proxy', password: 's3cret' } });
  const res = await request(app.urls.rest, { body: '' });
  assert.equal(res.status, 401);
  assert.match(res.headers['www-authenticate'], /^Basic /);
  for (const [pair, status] of [['proxy:wrong', 401], ['proxy:s3cret', 200]]) {
    const headers = { Authorization: 'Basic ' + Buffer.from(pair).toString('base64') };
    assert.equal((await request(app.urls.rest, { body: '', headers })).status, status);
  }
});

test('switches refuse bad values, and devices are exempt from them', async () => {
  for (const bad of [{ hang: '/quorvane' }, { fail: { '/quorvane': { status: 'x' } } }, { gzip: true, colour: 'red' }])
    assert.equal((await control(app, 'POST', '/switches', bad)).status, 400, JSON.stringify(bad));
  assert.equal((await control(app, 'GET', '/info')).json.switches.gzip, false);
  // A running classroom keeps working while the service misbehaves for the presenter.
  const s = await new RestClient(app.urls.server).startSession();
  await set({ basicAuth: { user: 'u', password: 'p' }, fail: { '/quorvane/classroom/session/join': { status: 500 } } });
  const p = await presenter(app, s);
  assert.equal((await control(app, 'POST', '/learners', { sessionCode: s.code, count: 2 })).status, 200);
  await waitFor(() => p.of('join').length === 2);
  p.close();
});

test('TLS: certificate generated for loopback, reported CA file verifies it', async () => {
  const tlsApp = await startApp({ tls: true, answerDelay: [5, 20] });
  try {
    assert.match(tlsApp.urls.server, /^https:\/\/127\.0\.0\.1:\d+$/);
    const ca = fs.readFileSync(tlsApp.urls.caFile);
    assert.equal((await request(tlsApp.urls.rest, { body: '', ca })).status, 200);
    await assert.rejects(request(tlsApp.urls.rest, { body: '' }), /self.signed|unable to (get|verify)|certificate/i);
    // The whole classroom runs over TLS: devices over wss and https.
    const s = await new RestClient(tlsApp.urls.server, ca).startSession();
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
