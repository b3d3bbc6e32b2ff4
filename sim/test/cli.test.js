'use strict';
// The command line: the ready line, stopping, automatic learners.

const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('child_process');
const path = require('path');
const { RestClient, presenter, waitFor, request } = require('../testkit/helpers');

const SERVER = path.join(__dirname, '..', 'server.js');

// Starts server.js; resolves {child, info, stdout()} once the ready line is out.
function launch(args, stdin = 'pipe') {
  const child = spawn(process.execPath, [SERVER, ...args], { stdio: [stdin, 'pipe', 'pipe'] });
  let out = '';
  let err = '';
  child.stdout.on('data', (d) => { out += d; });
  child.stderr.on('data', (d) => { err += d; });
  const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));
  const ready = waitFor(() => out.includes('\n') || child.exitCode !== null, 20000, 'ready line')
    .then(() => ({ child, exited, info: out.includes('\n') ? JSON.parse(out.split('\n')[0]) : null,
      stdout: () => out, stderr: () => err }));
  return { child, exited, ready };
}

function bounded(promise, ms, what) {
  let timer;
  return Promise.race([promise, new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error('timed out: ' + what)), ms);
  })]).finally(() => clearTimeout(timer));
}

test('ready line first, logs on stderr, clean stop on SIGTERM', async () => {
  const { ready } = launch(['--port', '0', '--ignore-stdin']);
  const r = await ready;
  try {
    assert.deepEqual(Object.keys(r.info).sort(), ['caFile', 'collab', 'control', 'echo', 'port', 'rest', 'server']);
    assert.equal(r.info.server, `http://127.0.0.1:${r.info.port}`);
    assert.equal(r.info.rest, r.info.server + '/quorvane');
    assert.equal(r.info.collab, r.info.server + '/collab');
    assert.equal(r.info.echo, r.info.server + '/echo');
    assert.equal(r.info.control, r.info.server + '/control');
    assert.equal(r.info.caFile, null);
    assert.equal((await request(r.info.rest, { body: '' })).status, 200);
  } finally {
    r.child.kill('SIGTERM');
  }
  const end = await bounded(r.exited, 10000, 'exit after SIGTERM');
  assert.equal(end.code, 0);
  assert.equal(r.stdout().trim().split('\n').length, 1);
  assert.match(r.stderr(), /stopping: SIGTERM/);
});

test('stops when stdin closes, at its maximum lifetime, and refuses bad options', async (t) => {
  await t.test('stdin closes', async () => {
    const r = await launch(['--port', '0']).ready;
    r.child.stdin.end();
    assert.equal((await bounded(r.exited, 10000, 'exit after stdin')).code, 0);
  });
  await t.test('max lifetime', async () => {
    const r = await launch(['--port', '0', '--ignore-stdin', '--max-lifetime', '1']).ready;
    assert.equal((await bounded(r.exited, 10000, 'exit after lifetime')).code, 0);
  });
  for (const bad of [['--transports', 'websocket,smoke'], ['--frobnicate'], ['--learners']]) {
    await t.test(bad.join(' '), async () => {
      const { exited } = launch(bad);
      assert.equal((await bounded(exited, 10000, 'exit on bad option')).code, 2);
    });
  }
});

test('--learners joins that many devices over the listed transports when a session starts', async () => {
  const r = await launch(['--port', '0', '--ignore-stdin', '--learners', '6', '--answer-delay', '0,5',
    '--transports', 'xhr-polling,websocket,xhr-streaming', '--shape', 'list']).ready;
  try {
    const rest = new RestClient(r.info.server);
    assert.deepEqual((await (await rest.signIn(), rest.post('/quorvane/config/findTenantFeatureDetails', {}))).json.data.sockJSProtocols,
      ['xhr-polling', 'websocket', 'xhr-streaming']);
    const s = await rest.startSession();
    // The learners walk in only once the presenter listens, so it sees every join.
    const p = await presenter({ urls: r.info }, s);
    await waitFor(() => p.of('join').length === 6, 20000, 'six joins');
    const info = (await request(`${r.info.control}/sessions/${s.code}`, { method: 'GET' })).json;
    assert.equal(info.learners.filter((l) => l.mode === 'learner').length, 6);
    assert.ok(p.of('join').every((f) => Array.isArray(f.body.data) && Number.isInteger(f.body.data[0])));
    p.publish(s.token, s.presenterToken, 'poll', { type: 'text', id: 'p1', metadata: { options: [] } });
    await waitFor(() => p.of('pollResponse').length === 6, 20000, 'six answers');
    p.close();
  } finally {
    r.child.kill('SIGTERM');
    await bounded(r.exited, 10000, 'exit');
  }
});
