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
const client = () => new RestClient(app.urls.server);
const userOf = async (c) => (await c.post('/quorvane/login/user', {})).json.data.userLoginId;
const refused = (res) => res.json.errorMsgKeys[0].includes('error');

test('paths that need a signed-in user refuse without the cookie', async () => {
  const anon = client();
  for (const path of ['login/keepSessionAlive', 'session/create', 'session/getcollabserverurl',
    'config/findTenantFeatureDetails', 'session/start', 'session/getusers', 'session/stop', 'resource/uploadResourceFile']) {
    const res = await anon.post('/quorvane/' + path, {});
    assert.ok([401, 403].includes(res.status) && refused(res), path + ' ' + res.status);
  }
  // A forged cookie is no sign-in either.
  anon.cookie = 'QSESSION=forged';
  assert.equal((await anon.post('/quorvane/session/create', {})).status, 401);
  // The user query tells an anonymous caller it has no user instead of failing; open paths answer.
  assert.equal(await userOf(anon), '');
  assert.equal((await anon.post('/quorvane', '')).status, 200);
  assert.equal((await anon.post('/quorvane/login/logout', {})).status, 200);
});

test('password and device-token sign-in', async (t) => {
  for (const [name, body, ok] of [
    ['right password', { userId: 'teacher', password: 'veltro' }, true],
    ['wrong password', { userId: 'teacher', password: 'nope' }],
    ['unknown user', { userId: 'nobody', password: 'veltro' }],
    ['no credentials', { userId: 'teacher' }],
    ['seeded device token', { userId: 'teacher', deviceId: 'any', deviceAccessToken: 'device-token-teacher' }, true],
    ['device token of another user', { userId: 'teacher2', deviceId: 'any', deviceAccessToken: 'device-token-teacher' }],
    ['unknown device token', { userId: 'teacher', deviceId: 'd', deviceAccessToken: 'made-up' }],
  ]) {
    await t.test(name, async () => {
      const c = client();
      const res = await c.post('/quorvane/login/submit', { ...body, ...NIMBRA });
      assert.equal(res.status, ok ? 200 : 401);
      assert.equal(!!c.cookie, !!ok);
      if (!ok)
        return assert.ok(refused(res));
      assert.ok(res.json.infoMsgKeys[0].includes('success'));
      assert.equal(await userOf(c), body.userId);
      assert.equal((await c.post('/quorvane/login/keepSessionAlive', '')).status, 200);
    });
  }
  await t.test('device access token is bound to its device and survives sign-out', async () => {
    const c = client();
    const res = await c.post('/quorvane/login/submit',
      { userId: 'teacher2', password: 'veltro2', deviceId: 'pc-7', deviceName: 'Lab PC', ...NIMBRA });
    const token = res.json.data.deviceAccessToken;
    assert.match(token, /^dat-/);
    await c.post('/quorvane/login/logout', {});
    assert.equal(c.cookie, null);
    assert.equal((await c.post('/quorvane/session/create', {})).status, 401);
    const submit = (deviceId) =>
      client().post('/quorvane/login/submit', { userId: 'teacher2', deviceId, deviceAccessToken: token });
    assert.equal((await submit('pc-7')).status, 200);
    assert.equal((await submit('pc-8')).status, 401);
  });
});

// The hand-off itself, as the client cuts and submits it, is met by the library's tests.
test('OAuth: a registration is used once, the account then signs in directly; refusals', async () => {
  const callback = (provider, code, extra) => client().post(`/quorvane/login/oauth/${provider}/callback`,
    { code, callbackUrl: app.urls.server, ...NIMBRA, ...extra });
  const first = await callback('brightid', 'k9');
  assert.match(first.json.infoMsgKeys[0], /success.*registration|registration.*success/);
  const submitted = JSON.stringify({ ...first.json.data, ...NIMBRA });
  const c = client();
  assert.equal((await c.post('/quorvane/register/oauth/submit', submitted)).status, 200);
  assert.equal(await userOf(c), 'brightid-k9');
  assert.equal((await c.post('/quorvane/register/oauth/submit', submitted)).status, 400);
  const later = await callback('brightid', 'k9', { deviceId: 'd1', deviceName: 'n' });
  assert.ok(!later.json.infoMsgKeys[0].includes('registration'));
  assert.match(later.json.data.deviceAccessToken, /^dat-/);
  // The token request of an unregistered account carries the registration data and no token.
  const fresh = (await callback('brightid', 'fresh', { deviceId: 'd', deviceName: 'n' })).json.data;
  assert.ok(fresh.deviceAccessToken === undefined && fresh.registrationToken);
  for (const [provider, body, status] of [['elsewhere', { code: 'c' }, 404], ['schoolsso', { code: 'invalid-1' }, 401],
    ['schoolsso', {}, 401]])
    assert.equal((await c.post(`/quorvane/login/oauth/${provider}/callback`, body)).status, status);
  assert.equal((await c.post('/quorvane/register/oauth/submit', { registrationToken: 'reg-made-up' })).status, 400);
});

// Creating, starting, listing and stopping are met by the library's tests; here
// what the service refuses on the way.
test('session refusals: joins before start and after stop, another teacher, unknown sessions', async () => {
  const c = client();
  await c.signIn();
  const code = (await c.post('/quorvane/session/create', '{}')).json.data.sessionCode;
  assert.match(code, /^\d{6}$/);
  const join = async (body) =>
    (await client().post('/quorvane/classroom/session/join', { sessionCode: code, ...body })).status;
  const start = (rest, body) => rest.post('/quorvane/session/start', body);
  assert.equal(await join({ mode: 'learner' }), 409);
  const token = (await start(c, { sessionCode: code })).json.data.sessionToken;
  assert.ok(token && !token.includes('.'));
  // Starting again gives the same token; another teacher may not start or read it.
  assert.equal((await start(c, { sessionCode: code })).json.data.sessionToken, token);
  const other = client();
  await other.signIn('teacher2', 'veltro2');
  assert.equal((await start(other, { sessionCode: code })).status, 403);
  assert.equal((await other.post('/quorvane/session/getusers', { sessionToken: token })).status, 403);
  assert.equal((await start(c, { sessionCode: '000000' })).status, 404);
  assert.equal(await join({ mode: 'spectator' }), 400);
  assert.equal(await join({ sessionCode: 'nope' }), 404);
  assert.equal((await c.post('/quorvane/session/stop', { sessionToken: token })).status, 200);
  assert.equal(await join({}), 409);
  assert.equal((await start(c, { sessionCode: code })).status, 409);
  assert.equal((await c.post('/quorvane/session/stop', { sessionToken: 'unknown' })).status, 404);
});

// The library's upload and download of a file are met by its own tests.
test('download by either method, unknown and empty resources, a body that is no multipart', async () => {
  const c = client();
  await c.signIn();
  const upload = (body) => c.post('/quorvane/resource/uploadResourceFile', body, { 'Content-Type': CT });
  const download = (id, method = 'GET') =>
    request(`${app.urls.server}/quorvane/resource/downloadResourceFile?resourceId=${id}`, { method });
  const bytes = Buffer.from(Array.from({ length: 3000 }, (_, i) => (i * 7) % 256));
  const id = (await upload(libraryBody('pic "1".png', bytes))).json.data.id;
  assert.equal((await request(`${app.urls.control}/uploads/${id}`, { method: 'GET' })).json.fileName, 'pic "1".png');
  assert.ok((await download(id, 'POST')).body.equals(bytes));
  assert.equal((await download('999')).status, 404);
  assert.equal((await download((await upload(libraryBody('e.txt', Buffer.alloc(0)))).json.data.id)).body.length, 0);
  const bad = await upload(Buffer.from('--x\r\nnot multipart'));
  assert.ok(bad.status === 400 && refused(bad));
});

test('malformed requests get JSON errors and the service keeps answering', async () => {
  const c = client();
  await c.signIn();
  for (const body of ['{"sessionCode":', '[1,2]', '"text"', 'null', '\u0000\u0001'])
    assert.equal((await c.post('/quorvane/session/start', body)).status, 400, body);
  assert.equal((await c.post('/quorvane/no/such/path', {})).status, 404);
  const get = await request(app.urls.rest + '/login/submit', { method: 'GET' });
  assert.ok(get.status === 405 && refused(get));
  assert.equal(await userOf(c), 'teacher');
});
