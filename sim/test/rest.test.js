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
    const submit = (deviceId) => client().post('/quorvane/login/submit', { userId: 'teacher2', deviceId, deviceAccessToken: token });
    assert.equal((await submit('pc-7')).status, 200);
    assert.equal((await submit('pc-8')).status, 401);
  });
});

test('OAuth sign-in with and without a registration hand-off', async () => {
  const callback = (c, provider, code, extra) => c.post(`/quorvane/login/oauth/${provider}/callback`,
    { code, callbackUrl: app.urls.server, ...NIMBRA, ...extra });
  // A registered provider signs in at once.
  const direct = client();
  const res = await callback(direct, 'schoolsso', 'c1');
  assert.equal(res.status, 200);
  assert.match(res.json.infoMsgKeys[0], /^(?!.*registration).*success/);
  assert.equal(await userOf(direct), 'schoolsso-c1');

  // A first sign-in must register, then signs in directly.
  const c = client();
  const first = await callback(c, 'brightid', 'k9');
  assert.equal(first.status, 200);
  assert.match(first.json.infoMsgKeys[0], /success.*registration|registration.*success/);
  assert.equal(c.cookie, null);
  // A client cuts the data member out of the text: it must be the last member.
  const text = first.body.toString();
  const data = text.slice(text.indexOf('"data":') + 7, text.length - 1);
  assert.deepEqual(JSON.parse(data), first.json.data);
  // What a client submits: the data text with the source system put after its last quote.
  const q = data.lastIndexOf('"') + 1;
  const submitted = data.slice(0, q) + ',"sourceSystem":"Nimbra"' + data.slice(q);
  const reg = await c.post('/quorvane/register/oauth/submit', submitted);
  assert.ok(reg.status === 200 && reg.json.infoMsgKeys[0].includes('success'));
  assert.equal(await userOf(c), 'brightid-k9');
  // The same registration cannot be used twice; the account now signs in directly.
  assert.equal((await c.post('/quorvane/register/oauth/submit', submitted)).status, 400);
  const later = await callback(client(), 'brightid', 'k9', { deviceId: 'd1', deviceName: 'n' });
  assert.ok(!later.json.infoMsgKeys[0].includes('registration'));
  assert.match(later.json.data.deviceAccessToken, /^dat-/);
  // The token request of an unregistered account carries the registration data and no token.
  const fresh = (await callback(client(), 'brightid', 'fresh', { deviceId: 'd', deviceName: 'n' })).json.data;
  assert.ok(fresh.deviceAccessToken === undefined && fresh.registrationToken);

  // Refusals.
  assert.equal((await c.post('/quorvane/login/oauth/elsewhere/callback', { code: 'c' })).status, 404);
  assert.equal((await c.post('/quorvane/login/oauth/schoolsso/callback', { code: 'invalid-1' })).status, 401);
  assert.equal((await c.post('/quorvane/login/oauth/schoolsso/callback', {})).status, 401);
  assert.equal((await c.post('/quorvane/register/oauth/submit', { registrationToken: 'reg-made-up' })).status, 400);
});

test('session life: create, collaboration URL, features, start, joins, users, stop', async () => {
  const c = client();
  await c.signIn();
  const code = (await c.post('/quorvane/session/create', '{}')).json.data.sessionCode;
  assert.match(code, /^\d{6}$/);
  assert.equal((await c.post('/quorvane/session/getcollabserverurl', '{}')).json.data.url, app.urls.collab);
  assert.deepEqual((await c.post('/quorvane/config/findTenantFeatureDetails', '{}')).json.data.sockJSProtocols,
    ['websocket', 'xhr-streaming', 'xhr-polling']);
  const join = (body) => client().post('/quorvane/classroom/session/join', { sessionCode: code, ...body });
  // Nobody joins a session that has not started.
  assert.equal((await join({ mode: 'learner' })).status, 409);
  // The exact start body the presenter sends, with its blank.
  const start = await c.post('/quorvane/session/start',
    `{"sessionCode": "${code}","serverUrl":"${app.urls.collab}","sourceSystem":"Nimbra","version":"3.0.0"}`);
  const token = start.json.data.sessionToken;
  assert.ok(token && !token.includes('.'));
  // Starting again gives the same token; another teacher may not start or read it.
  assert.equal((await c.post('/quorvane/session/start', { sessionCode: code })).json.data.sessionToken, token);
  const other = client();
  await other.signIn('teacher2', 'veltro2');
  assert.equal((await other.post('/quorvane/session/start', { sessionCode: code })).status, 403);
  assert.equal((await other.post('/quorvane/session/getusers', { sessionToken: token })).status, 403);
  assert.equal((await c.post('/quorvane/session/start', { sessionCode: '000000' })).status, 404);

  const users = [['presenter', 'SessionStarter', 'presenter'], ['learner', 'Ada', 'phone'], ['learner', 'Bo', 'tablet']];
  const joined = [];
  for (const [mode, userName, deviceType] of users)
    joined.push((await join({ userName, mode, deviceName: 'd-' + userName, deviceType })).json.data);
  assert.notEqual(joined[1].userToken, joined[2].userToken);
  assert.equal(joined[1].sessionToken, token);
  assert.equal((await join({ mode: 'spectator' })).status, 400);
  assert.equal((await join({ sessionCode: 'nope' })).status, 404);
  assert.deepEqual((await c.post('/quorvane/session/getusers', `{"sessionToken":"${token}"}`)).json.data.users,
    users.map(([mode, userName, deviceType], i) => ({ mode, userToken: joined[i].userToken, userName, deviceType })));
  assert.equal((await c.post('/quorvane/session/stop', { sessionToken: token })).status, 200);
  assert.equal((await join({})).status, 409);
  assert.equal((await c.post('/quorvane/session/start', { sessionCode: code })).status, 409);
  assert.equal((await c.post('/quorvane/session/stop', { sessionToken: 'unknown' })).status, 404);
});

test('upload stores the library multipart body; download returns the bytes', async () => {
  const c = client();
  await c.signIn();
  const upload = (name, bytes) => c.post('/quorvane/resource/uploadResourceFile', libraryBody(name, bytes), { 'Content-Type': CT });
  const download = (id, method = 'GET') =>
    request(`${app.urls.server}/quorvane/resource/downloadResourceFile?resourceId=${id}`, { method });
  const bytes = Buffer.from(Array.from({ length: 3000 }, (_, i) => (i * 7) % 256));
  const res = await upload('pic "1".png', bytes);
  assert.equal(res.status, 200);
  const id = res.json.data.id;
  assert.equal(typeof id, 'string');
  const meta = (await request(`${app.urls.control}/uploads/${id}`, { method: 'GET' })).json;
  assert.equal(meta.fileName, 'pic "1".png');
  assert.deepEqual(meta.fields, { isTemporary: 'true', clientProvidedGUID: 'false' });
  for (const method of ['GET', 'POST']) {
    const d = await download(id, method);
    assert.ok(d.status === 200 && d.body.equals(bytes), method);
  }
  assert.equal((await download('999')).status, 404);
  assert.equal((await download((await upload('e.txt', Buffer.alloc(0))).json.data.id)).body.length, 0);
  const bad = await c.post('/quorvane/resource/uploadResourceFile', Buffer.from('--x\r\nnot multipart'), { 'Content-Type': CT });
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
