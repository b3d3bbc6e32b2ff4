'use strict';
// What the library's live runs cannot show: refused requests and frames, control errors, devices over TLS
// and exempt from the REST switches, every payload shape on every transport, the devices' signed bytes,
// the command line (its ready line and --max-lifetime are met by every live run).

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawn } = require('child_process');
const payload = require('../lib/payload');
const { startApp, RestClient, connect, request, control, presenter, waitFor } = require('../testkit/helpers');

let app;
test.before(async () => { app = await startApp(); });
test.after(() => app.stop());

const TRANSPORTS = ['websocket', 'xhr-streaming', 'xhr-polling'];

test('payloads restore in every shape, lists carry signed bytes as devices send them, the rest is null', () => {
  const listOf = (d) => (typeof d === 'string' ? JSON.parse('[' + d.replace(/^\[|\]$/g, '') + ']') : d);
  const signed = (v) => Number.isInteger(v) && v >= -128 && v <= 127;
  for (const text of ['', JSON.stringify({ userName: 'Zoë "Z" Ng', deviceType: 'tablet' }), 'x'.repeat(20000)]) {
    for (const shape of payload.SHAPES) {
      const data = payload.encode(text, shape);
      assert.ok(shape === 'base64' || listOf(data).every(signed), shape);
      assert.equal(payload.decode(data), text, shape);
    }
  }
  // Stand-alone headers (properties, dictionary, size): unknown size, oversized, bad properties; refused unread.
  const hostile = ['5d00000100ffffffffffffffff', '5d00000100ffffff7f00000000', 'e1000001000a00000000000000']
    .map((h) => Buffer.from(h + '55'.repeat(27), 'hex').toString('base64'));
  for (const data of [undefined, null, 42, {}, [], 'not base64!', ['@@@'], [1, 2, 3], 'AAAA', '1,2,x', ...hostile])
    assert.equal(payload.decode(data), null, JSON.stringify(data));
});

test('REST refusals come with JSON errors; control calls refuse what is absent or wrong', async () => {
  const [anon, c, other] = [0, 1, 2].map(() => new RestClient(app.urls.server));
  await c.signIn();
  await other.signIn('teacher2', 'veltro2');
  const code = (await c.post('/session/create', '{}')).json.data.sessionCode;
  const tokenFor = async (deviceId) => (await other.post('/login/submit', { userId: 'teacher2', password: 'veltro2',
    deviceId, deviceName: 'Lab PC' })).json.data.deviceAccessToken;
  const [devToken, blankDevice] = [await tokenFor('pc-7'), await tokenFor('')];
  const CT = 'multipart/form-data; charset=UTF-8; boundary=----boundary';
  const check = async (rows) => {
    for (const [who, path, body, status] of rows) {
      const res = await who.post(path, body, path.startsWith('/resource') ? { 'Content-Type': CT } : {});
      assert.equal(res.status, status, path + ' ' + JSON.stringify(body));
      assert.ok(res.json.errorMsgKeys[0].includes('error'), path);
    }
  };
  const signIn = (body) => [anon, '/login/submit', body, 401];
  const join = (body, status) => [anon, '/classroom/session/join', { sessionCode: code, ...body }, status];
  await check([
    ...['/login/keepSessionAlive', '/session/create', '/session/getcollabserverurl', '/session/start',
      '/config/findTenantFeatureDetails', '/session/getusers', '/session/stop', '/resource/uploadResourceFile']
      .map((p) => [anon, p, {}, 401]),
    [Object.assign(new RestClient(app.urls.server), { cookie: 'QSESSION=forged' }), '/session/create', {}, 401],
    signIn({ userId: 'nobody', password: 'veltro' }), signIn({ userId: 'teacher' }),
    signIn({ userId: 'teacher2', deviceId: 'a', deviceAccessToken: 'device-token-teacher' }),
    signIn({ userId: 'teacher2', deviceId: 'pc-8', deviceAccessToken: devToken }),
    signIn({ userId: 'teacher', deviceId: 'pc-7', deviceAccessToken: devToken }),
    signIn({ userId: 'teacher2', deviceId: 'pc-9', deviceAccessToken: blankDevice }),
    [anon, '/login/oauth/elsewhere/callback', { code: 'c' }, 404], [anon, '/login/oauth/schoolsso/callback', {}, 401],
    [anon, '/login/oauth/schoolsso/callback', { code: 'invalid-1' }, 401],
    [anon, '/register/oauth/submit', { registrationToken: 'reg-made-up' }, 400],
    join({ mode: 'learner' }, 409), // not started yet
    [c, '/session/start', { sessionCode: '000000' }, 404],
    ...['{"sessionCode":', '[1,2]', '"text"', 'null', '\u0000\u0001'].map((b) => [c, '/session/start', b, 400]),
    [c, '/no/such/path', {}, 404],
    [c, '/resource/uploadResourceFile', '--x\r\nnot multipart', 400],
    [c, '/resource/uploadResourceFile', '------boundary\r\nContent-Disposition: form-data; name=files', 400],
  ]);
  const token = (await c.post('/session/start', { sessionCode: code })).json.data.sessionToken;
  await check([[other, '/session/start', { sessionCode: code }, 403],
    [other, '/session/getusers', { sessionToken: token }, 403], join({ mode: 'spectator' }, 400),
    join({ sessionCode: 'nope' }, 404), [c, '/session/stop', { sessionToken: 'unknown' }, 404]]);
  assert.equal((await c.post('/session/stop', { sessionToken: token })).status, 200);
  await check([join({}, 409), [c, '/session/start', { sessionCode: code }, 409]]);
  for (const [path, status] of [['/resource/downloadResourceFile?resourceId=999', 404], ['/login/submit', 405]])
    assert.equal((await request(app.urls.rest + path, { method: 'GET' })).status, status);
  // A withdrawn device token no longer signs in, from its own device either.
  const fromPc7 = { userId: 'teacher2', deviceId: 'pc-7', deviceAccessToken: devToken };
  assert.equal((await new RestClient(app.urls.server).post('/login/submit', fromPc7)).status, 200);
  assert.deepEqual((await control(app, 'POST', '/device-tokens/revoke', { token: devToken })).json, { revoked: 1 });
  await check([signIn(fromPc7)]);
  // Control calls about absent or stopped things answer 404 or 409, bad values 400.
  for (const [method, path, body, status] of [['POST', '/learners', { sessionCode: 'nope' }, 404],
    ['POST', '/learners', { sessionCode: code }, 409], ['POST', '/learners/leave', { token: 'u-x' }, 404],
    ['POST', '/raw', { token: 'u-x', frame: 'x' }, 404], ['GET', '/records?token=u-x', {}, 404],
    ['GET', '/nowhere', {}, 404], ['POST', '/controller/send', { type: 'nextCard', sessionCode: code }, 404],
    ['POST', '/device-tokens/revoke', { token: devToken }, 404], ['POST', '/device-tokens/revoke', {}, 400],
    ...[{ hang: '/quorvane' }, { fail: { '/quorvane': { status: 'x' } } }, { gzip: true, colour: 'red' },
      { echoDelay: -1 }, { echoDelay: 1.5 }]
      .map((sw) => ['POST', '/switches', sw, 400])])
    assert.equal((await control(app, method, path, body)).status, status, method + ' ' + path);
});

test('malformed frames are dropped and counted; the connection goes on', async () => {
  const bad = ['not json', '{"type":"ping"', 'null', '42', '[{"type":"ping"}]', '{}', '{"type":7}',
    '{"type":"register","address":5}', '{"type":"unregister","address":""}', '{"type":"publish","body":{}}',
    '{"type":"publish","address":"a"}', '{"type":"launch","address":"a"}', '{"__proto__":{"type":"ping"}}'];
  for (const transport of TRANSPORTS) {
    const c = await connect(app.urls.collab, { transport });
    await control(app, 'POST', '/counters/reset');
    for (const f of bad)
      c.send(f);
    c.json({ type: 'ping' });
    await waitFor(() => app.counters.pings === 1, undefined, 'ping after the bad frames over ' + transport);
    assert.equal(app.counters.malformed, bad.length, transport);
    c.close();
  }
});

test('echoDelay holds back only what a presenter published itself, on its way back to it', async () => {
  const s = await new RestClient(app.urls.server).startSession();
  const p = await presenter(app, s);
  const other = await connect(app.urls.collab);
  const [learner] = (await control(app, 'POST', '/learners', { sessionCode: s.code })).json.learners;
  assert.equal((await control(app, 'POST', '/learners', { sessionCode: s.code, fillText: 'yes' })).status, 400);
  assert.equal((await control(app, 'POST', '/switches', { echoDelay: 400 })).status, 200);
  try {
    const sentAt = Date.now();
    p.json({ type: 'publish', address: s.token, body: { from: s.presenterToken, type: 'mine', data: [] } });
    other.json({ type: 'publish', address: s.token, body: { from: 'someone', type: 'theirs', data: [] } });
    await waitFor(() => p.of('mine').length, undefined, 'the own publish');
    const back = Date.now();
    assert.ok(back - sentAt >= 350, 'came back after the delay');
    await waitFor(() => p.of('theirs').length, undefined, 'the other publish');
    assert.ok(p.frames.indexOf(p.of('theirs')[0]) < p.frames.indexOf(p.of('mine')[0]), 'others are not held');
    const rec = (await control(app, 'GET', '/records?token=' + learner.token)).json.records;
    assert.ok(rec.find((r) => r.type === 'mine').time < back, 'the devices are not held');
  } finally {
    await control(app, 'POST', '/switches', { echoDelay: 0 });
    p.close();
    other.close();
  }
});

test('devices join over wss and https in every shape despite the REST switches; the CA file goes at stop', async () => {
  const tls = await startApp({ tls: true });
  try {
    const ca = fs.readFileSync(tls.urls.caFile);
    const s = await new RestClient(tls.urls.server, ca).startSession();
    const sw = { basicAuth: { user: 'u', password: 'p' },
      fail: { '/quorvane/classroom/session/join': { status: 500 } } };
    assert.equal((await control(tls, 'POST', '/switches', sw)).status, 200);
    assert.equal((await request(tls.urls.rest, { ca })).status, 401);
    const p = await presenter(tls, s, { ca });
    for (const [i, shape] of payload.SHAPES.entries()) {
      const body = { sessionCode: s.code, count: 1, transport: TRANSPORTS[i], shape, names: ['Ada Ö' + i] };
      assert.equal((await control(tls, 'POST', '/learners', body)).status, 200);
      const join = await waitFor(() => p.of('join')[i], undefined, shape + ' join');
      const data = join.body.data;
      assert.equal(typeof data === 'string' ? 'text' : typeof data[0] === 'string' ? 'base64' : 'list', shape);
      assert.equal(payload.decodeValue(data).userName, 'Ada Ö' + i);
    }
    p.close();
  } finally {
    await tls.stop();
  }
  assert.equal(fs.existsSync(tls.urls.caFile), false);
});

// Starts server.js, stopped after 30 s; ready() gives the ready line, exited() the exit code (within 20 s).
function launch(args) {
  const child = spawn(process.execPath, [path.join(__dirname, '..', 'server.js'), ...args], { timeout: 30000 });
  const out = { stdout: '', stderr: '' };
  for (const k of Object.keys(out))
    child[k].on('data', (d) => { out[k] += d; });
  const exited = () => waitFor(() => child.exitCode !== null, 20000, 'exit').then(() => child.exitCode);
  const ready = () => waitFor(() => out.stdout.includes('\n'), 20000, 'ready line').then(() => JSON.parse(out.stdout));
  return { child, out, exited, ready };
}

test('--learners joins devices with the given options; logs on stderr; clean stop on SIGTERM', async () => {
  const l = launch('--port 0 --ignore-stdin --learners 3 --transports xhr-polling,websocket --shape list'.split(' '));
  try {
    const rest = new RestClient((await l.ready()).server);
    const s = await rest.startSession();
    assert.deepEqual((await rest.post('/config/findTenantFeatureDetails', {})).json.data.sockJSProtocols,
      ['xhr-polling', 'websocket']);
    // The devices join only once the presenter listens, so it sees every join.
    const p = await presenter({}, s);
    await waitFor(() => p.of('join').length === 3, 20000, 'three joins');
    assert.ok(p.of('join').every((f) => Array.isArray(f.body.data) && Number.isInteger(f.body.data[0])));
    p.close();
  } finally {
    l.child.kill('SIGTERM');
  }
  assert.equal(await l.exited(), 0);
  assert.equal(l.out.stdout.trim().split('\n').length, 1);
  assert.match(l.out.stderr, /stopping: SIGTERM/);
});

test('stops when stdin closes; refuses bad options with exit code 2', async () => {
  for (const [args, code] of [[['--port', '0'], 0], [['--transports', 'websocket,smoke'], 2], [['--frobnicate'], 2],
    [['--learners'], 2], [['--answer-delay', '5'], 2]]) {
    const l = launch(args);
    if (code === 0)
      l.child.stdin.end();
    assert.equal(await l.exited(), code, args.join(' '));
  }
});
