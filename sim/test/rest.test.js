'use strict';
// The REST interface below /quorvane: each path signed in and not, sign-in
// variants, cookies, sessions, upload and download.

const test = require('node:test');
const assert = require('node:assert/strict');
const { startApp, RestClient, request, libraryBody, CT } = require('../testkit/helpers');

let app;
test.before(async () => { app = await startApp(); });
test.after(() => app.stop());

const NIMBRA = { sourceSystem: 'Nimbra' };

test('paths that need a signed-in user refuse without the cookie', async () => {
  const anon = new RestClient(app.urls.server);
  for (const path of ['/quorvane/login/keepSessionAlive', '/quorvane/session/create', '/quorvane/session/getcollabserverurl',
    '/quorvane/config/findTenantFeatureDetails', '/quorvane/session/start', '/quorvane/session/getusers',
    '/quorvane/session/stop', '/quorvane/resource/uploadResourceFile']) {
    const res = await anon.post(path, {});
    assert.ok(res.status === 401 || res.status === 403, path + ' ' + res.status);
    assert.ok(res.json.errorMsgKeys[0].includes('error'), path);
  }
  // A forged cookie is no sign-in either.
  anon.cookie = 'QSESSION=forged';
  assert.equal((await anon.post('/quorvane/session/create', {})).status, 401);
  // The user query tells an anonymous caller it has no user instead of failing.
  const who = await anon.post('/quorvane/login/user', {});
  assert.equal(who.status, 200);
  assert.equal(who.json.data.userLoginId, '');
  // Open paths answer JSON.
  assert.equal((await anon.post('/quorvane', '')).status, 200);
  assert.equal((await anon.post('/quorvane/login/logout', {})).status, 200);
});

test('password and device-token sign-in', async (t) => {
  const cases = [
    ['right password', { userId: 'teacher', password: 'veltro' }, 200],
    ['wrong password', { userId: 'teacher', password: 'nope' }, 401],
    ['unknown user', { userId: 'nobody', password: 'veltro' }, 401],
    ['no credentials', { userId: 'teacher' }, 401],
    ['seeded device token', { userId: 'teacher', deviceId: 'any', deviceAccessToken: 'device-token-teacher' }, 200],
    ['device token of another user', { userId: 'teacher2', deviceId: 'any', deviceAccessToken: 'device-token-teacher' }, 401],
    ['unknown device token', { userId: 'teacher', deviceId: 'd', deviceAccessToken: 'made-up' }, 401],
  ];
  for (const [name, body, status] of cases) {
    await t.test(name, async () => {
      const c = new RestClient(app.urls.server);
      const res = await c.post('/quorvane/login/submit', { ...body, ...NIMBRA });
      assert.equal(res.status, status);
      if (status === 200) {
        assert.ok(res.json.infoMsgKeys[0].includes('success'));
        assert.ok(c.cookie);
        assert.equal((await c.post('/quorvane/login/user', {})).json.data.userLoginId, body.userId);
        assert.equal((await c.post('/quorvane/login/keepSessionAlive', '')).status, 200);
      } else {
        assert.ok(res.json.errorMsgKeys[0].includes('error'));
        assert.equal(c.cookie, null);
      }
    });
  }
  await t.test('device access token is bound to its device and survives sign-out', async () => {
    const c = new RestClient(app.urls.server);
    const res = await c.post('/quorvane/login/submit',
      { userId: 'teacher2', password: 'veltro2', deviceId: 'pc-7', deviceName: 'Lab PC', ...NIMBRA });
    const token = res.json.data.deviceAccessToken;
    assert.match(token, /^dat-/);
    await c.post('/quorvane/login/logout', {});
    assert.equal(c.cookie, null);
    assert.equal((await c.post('/quorvane/session/create', {})).status, 401);
    const again = await c.post('/quorvane/login/submit', { userId: 'teacher2', deviceId: 'pc-7', deviceAccessToken: token });
    assert.equal(again.status, 200);
    const elsewhere = await new RestClient(app.urls.server).post('/quorvane/login/submit',
      { userId: 'teacher2', deviceId: 'pc-8', deviceAccessToken: token });
    assert.equal(elsewhere.status, 401);
  });
});

test('OAuth sign-in with and without a registration hand-off', async (t) => {
  await t.test('registered provider signs in at once', async () => {
    const c = new RestClient(app.urls.server);
    const res = await c.post('/quorvane/login/oauth/schoolsso/callback', { code: 'c1', callbackUrl: app.urls.server, ...NIMBRA });
    assert.equal(res.status, 200);
    assert.ok(res.json.infoMsgKeys[0].includes('success'));
    assert.ok(!res.json.infoMsgKeys[0].includes('registration'));
    assert.equal((await c.post('/quorvane/login/user', {})).json.data.userLoginId, 'schoolsso-c1');
  });
  await t.test('first sign-in must register, then signs in directly', async () => {
    const c = new RestClient(app.urls.server);
    const res = await c.post('/quorvane/login/oauth/brightid/callback', { code: 'k9', callbackUrl: app.urls.server, ...NIMBRA });
    assert.equal(res.status, 200);
    assert.match(res.json.infoMsgKeys[0], /success.*registration|registration.*success/);
    assert.equal(c.cookie, null);
    // A client cuts the data member out of the text: it must be the last member.
    const text = res.body.toString();
    const data = text.slice(text.indexOf('"data":') + 7, text.length - 1);
    assert.deepEqual(JSON.parse(data), res.json.data);
    // What a client submits: the data text with the source system put after its last quote.
    const q = data.lastIndexOf('"') + 1;
    const submitted = data.slice(0, q) + ',"sourceSystem":"Nimbra"' + data.slice(q);
    const reg = await c.post('/quorvane/register/oauth/submit', submitted);
    assert.equal(reg.status, 200);
    assert.ok(reg.json.infoMsgKeys[0].includes('success'));
    assert.equal((await c.post('/quorvane/login/user', {})).json.data.userLoginId, 'brightid-k9');
    // The same registration cannot be used twice; the account now signs in directly.
    assert.equal((await c.post('/quorvane/register/oauth/submit', submitted)).status, 400);
    const later = await new RestClient(app.urls.server).post('/quorvane/login/oauth/brightid/callback',
      { code: 'k9', callbackUrl: app.urls.server, deviceId: 'd1', deviceName: 'n', ...NIMBRA });
    assert.ok(!later.json.infoMsgKeys[0].includes('registration'));
    assert.match(later.json.data.deviceAccessToken, /^dat-/);
  });
  await t.test('token request of an unregistered account carries the registration data and no token', async () => {
    const res = await new RestClient(app.urls.server).post('/quorvane/login/oauth/brightid/callback',
      { code: 'fresh', callbackUrl: app.urls.server, deviceId: 'd', deviceName: 'n', ...NIMBRA });
    assert.equal(res.json.data.deviceAccessToken, undefined);
    assert.ok(res.json.data.registrationToken);
  });
  await t.test('refusals', async () => {
    const c = new RestClient(app.urls.server);
    assert.equal((await c.post('/quorvane/login/oauth/elsewhere/callback', { code: 'c' })).status, 404);
    assert.equal((await c.post('/quorvane/login/oauth/schoolsso/callback', { code: 'invalid-1' })).status, 401);
    assert.equal((await c.post('/quorvane/login/oauth/schoolsso/callback', {})).status, 401);
    assert.equal((await c.post('/quorvane/register/oauth/submit', { registrationToken: 'reg-made-up' })).status, 400);
  });
});

test('session life: create, collaboration URL, features, start, joins, users, stop', async () => {
  const c = new RestClient(app.urls.server);
  await c.signIn();
  const code = (await c.post('/quorvane/session/create', '{}')).json.data.sessionCode;
  assert.match(code, /^\d{6}$/);
  assert.equal((await c.post('/quorvane/session/getcollabserverurl', '{}')).json.data.url, app.urls.collab);
  assert.deepEqual((await c.post('/quorvane/config/findTenantFeatureDetails', '{}')).json.data.sockJSProtocols,
    ['websocket', 'xhr-streaming', 'xhr-polling']);
  // Nobody joins a session that has not started.
  assert.equal((await c.post('/quorvane/classroom/session/join', { sessionCode: code, mode: 'learner' })).status, 409);
  // The exact start body the presenter sends, with its blank.
  const start = await c.post('/quorvane/session/start',
    `{"sessionCode": "${code}","serverUrl":"${app.urls.collab}","sourceSystem":"Nimbra","version":"3.0.0"}`);
  const token = start.json.data.sessionToken;
  assert.ok(token && !token.includes('.'));
  // Starting again gives the same token; another teacher may not start or read it.
  assert.equal((await c.post('/quorvane/session/start', { sessionCode: code })).json.data.sessionToken, token);
  const other = new RestClient(app.urls.server);
  await other.signIn('teacher2', 'veltro2');
  assert.equal((await other.post('/quorvane/session/start', { sessionCode: code })).status, 403);
  assert.equal((await other.post('/quorvane/session/getusers', { sessionToken: token })).status, 403);
  assert.equal((await c.post('/quorvane/session/start', { sessionCode: '000000' })).status, 404);

  const join = (body) => new RestClient(app.urls.server).post('/quorvane/classroom/session/join', body);
  const p = await join({ userName: 'SessionStarter', sessionCode: code, mode: 'presenter',
    deviceName: 'teacher_SessionStarter', deviceType: 'presenter' });
  const l1 = await join({ userName: 'Ada', sessionCode: code, mode: 'learner', deviceName: 'a', deviceType: 'phone' });
  const l2 = await join({ userName: 'Bo', sessionCode: code, mode: 'learner', deviceName: 'b', deviceType: 'tablet' });
  assert.notEqual(l1.json.data.userToken, l2.json.data.userToken);
  assert.equal(l1.json.data.sessionToken, token);
  assert.equal((await join({ sessionCode: code, mode: 'spectator' })).status, 400);
  assert.equal((await join({ sessionCode: 'nope' })).status, 404);
  const users = (await c.post('/quorvane/session/getusers', `{"sessionToken":"${token}"}`)).json.data.users;
  assert.deepEqual(users, [
    { mode: 'presenter', userToken: p.json.data.userToken, userName: 'SessionStarter', deviceType: 'presenter' },
    { mode: 'learner', userToken: l1.json.data.userToken, userName: 'Ada', deviceType: 'phone' },
    { mode: 'learner', userToken: l2.json.data.userToken, userName: 'Bo', deviceType: 'tablet' },
  ]);
  assert.equal((await c.post('/quorvane/session/stop', { sessionToken: token })).status, 200);
  assert.equal((await join({ sessionCode: code })).status, 409);
  assert.equal((await c.post('/quorvane/session/start', { sessionCode: code })).status, 409);
  assert.equal((await c.post('/quorvane/session/stop', { sessionToken: 'unknown' })).status, 404);
});

test('upload stores the library multipart body; download returns the bytes', async () => {
  const c = new RestClient(app.urls.server);
  await c.signIn();
  const bytes = Buffer.from(Array.from({ length: 3000 }, (_, i) => (i * 7) % 256));
  const res = await c.post('/quorvane/resource/uploadResourceFile', libraryBody('pic "1".png', bytes), { 'Content-Type': CT });
  assert.equal(res.status, 200);
  const id = res.json.data.id;
  assert.equal(typeof id, 'string');
  const meta = (await request(`${app.urls.control}/uploads/${id}`, { method: 'GET' })).json;
  assert.equal(meta.fileName, 'pic "1".png');
  assert.deepEqual(meta.fields, { isTemporary: 'true', clientProvidedGUID: 'false' });
  for (const method of ['GET', 'POST']) {
    const d = await request(`${app.urls.server}/quorvane/resource/downloadResourceFile?resourceId=${id}`, { method });
    assert.equal(d.status, 200);
    assert.deepEqual(d.body, bytes);
  }
  assert.equal((await request(`${app.urls.server}/quorvane/resource/downloadResourceFile?resourceId=999`, { method: 'GET' })).status, 404);
  const empty = await c.post('/quorvane/resource/uploadResourceFile', libraryBody('e.txt', Buffer.alloc(0)), { 'Content-Type': CT });
  assert.equal((await request(`${app.urls.server}/quorvane/resource/downloadResourceFile?resourceId=${empty.json.data.id}`,
    { method: 'GET' })).body.length, 0);
  const bad = await c.post('/quorvane/resource/uploadResourceFile', Buffer.from('--x\r\nnot multipart'), { 'Content-Type': CT });
  assert.equal(bad.status, 400);
  assert.ok(bad.json.errorMsgKeys[0].includes('error'));
});

test('malformed requests get JSON errors and the service keeps answering', async () => {
  const c = new RestClient(app.urls.server);
  await c.signIn();
  for (const body of ['{"sessionCode":', '[1,2]', '"text"', 'null', '\u0000\u0001'])
    assert.equal((await c.post('/quorvane/session/start', body)).status, 400, body);
  assert.equal((await c.post('/quorvane/no/such/path', {})).status, 404);
  const get = await request(app.urls.rest + '/login/submit', { method: 'GET' });
  assert.equal(get.status, 405);
  assert.ok(get.json.errorMsgKeys[0].includes('error'));
  assert.equal((await c.post('/quorvane/login/user', {})).json.data.userLoginId, 'teacher');
});
