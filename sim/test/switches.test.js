'use strict';
// REST switches and TLS as far as the library's own tests against the stand-in
// do not show them (gzip, redirect, hang, fail, non-JSON and Basic
// authentication are each met by the client there): refusal of bad switches,
// devices exempt from them, devices over TLS.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const { startApp, RestClient, request, control, presenter, waitFor } = require('../testkit/helpers');

// Two learners, one per transport given, join the session: their joins reach the presenter.
async function learnersJoin(app, s, ca, transports) {
  const p = await presenter(app, s, { ca });
  for (const transport of transports)
    assert.equal((await control(app, 'POST', '/learners', { sessionCode: s.code, count: 1, transport })).status, 200);
  await waitFor(() => p.of('join').length === transports.length);
  p.close();
}

test('switches refuse bad values and act on the presenter only, never on devices', async () => {
  const app = await startApp({ answerDelay: [5, 20] });
  try {
    for (const bad of [{ hang: '/quorvane' }, { fail: { '/quorvane': { status: 'x' } } }, { gzip: true, colour: 'red' }])
      assert.equal((await control(app, 'POST', '/switches', bad)).status, 400, JSON.stringify(bad));
    assert.equal((await control(app, 'GET', '/info')).json.switches.gzip, false);
    const s = await new RestClient(app.urls.server).startSession();
    const sw = { basicAuth: { user: 'u', password: 'p' }, fail: { '/quorvane/classroom/session/join': { status: 500 } } };
    assert.equal((await control(app, 'POST', '/switches', sw)).status, 200);
    assert.equal((await request(app.urls.rest, { body: '' })).status, 401);
    await learnersJoin(app, s, undefined, ['websocket', 'xhr-streaming']);
  } finally {
    await app.stop();
  }
});

test('TLS: certificate generated for loopback, reported CA file verifies it, devices over wss and https', async () => {
  const app = await startApp({ tls: true, answerDelay: [5, 20] });
  try {
    assert.match(app.urls.server, /^https:\/\/127\.0\.0\.1:\d+$/);
    const ca = fs.readFileSync(app.urls.caFile);
    assert.equal((await request(app.urls.rest, { body: '', ca })).status, 200);
    await assert.rejects(request(app.urls.rest, { body: '' }), /self.signed|unable to (get|verify)|certificate/i);
    const s = await new RestClient(app.urls.server, ca).startSession();
    assert.match(s.collab, /^https:/);
    await learnersJoin(app, s, ca, ['websocket', 'xhr-polling']);
  } finally {
    await app.stop();
  }
  assert.equal(fs.existsSync(app.urls.caFile), false);
});
