'use strict';
// The command line: the ready line, stopping, automatic learners.

const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('child_process');
const path = require('path');
const { RestClient, presenter, waitFor, request } = require('../testkit/helpers');

// Starts server.js; ready() resolves {child, info, stdout(), stderr()} once the
// ready line is out (within 20 s), exited() with the exit code (within 20 s).
function launch(args) {
  const child = spawn(process.execPath, [path.join(__dirname, '..', 'server.js'), ...args]);
  let out = '';
  let err = '';
  child.stdout.on('data', (d) => { out += d; });
  child.stderr.on('data', (d) => { err += d; });
  const exit = new Promise((resolve) => child.once('exit', resolve));
  const exited = () => Promise.race([exit,
    new Promise((_, reject) => setTimeout(() => reject(new Error('no exit')), 20000).unref())]);
  const ready = () => waitFor(() => out.includes('\n') || child.exitCode !== null, 20000, 'ready line')
    .then(() => ({ child, info: out.includes('\n') ? JSON.parse(out.split('\n')[0]) : null,
      stdout: () => out, stderr: () => err }));
  return { child, exited, ready };
}

test('ready line first, logs on stderr, --learners joins that many devices, clean stop on SIGTERM', async () => {
  const l = launch(['--port', '0', '--ignore-stdin', '--learners', '6', '--answer-delay', '0,5',
    '--transports', 'xhr-polling,websocket,xhr-streaming', '--shape', 'list']);
  const r = await l.ready();
  try {
    const server = `http://127.0.0.1:${r.info.port}`;
    assert.deepEqual(r.info, { port: r.info.port, server, rest: server + '/quorvane', collab: server + '/collab',
      echo: server + '/echo', control: server + '/control', caFile: null });
    // The devices join only once the presenter listens, so it sees every join.
    const rest = new RestClient(server);
    await rest.signIn();
    assert.deepEqual((await rest.post('/quorvane/config/findTenantFeatureDetails', {})).json.data.sockJSProtocols,
      ['xhr-polling', 'websocket', 'xhr-streaming']);
    const s = await rest.startSession();
    const p = await presenter({ urls: r.info }, s);
    await waitFor(() => p.of('join').length === 6, 20000, 'six joins');
    const info = (await request(`${r.info.control}/sessions/${s.code}`, { method: 'GET' })).json;
    assert.equal(info.learners.filter((u) => u.mode === 'learner').length, 6);
    assert.ok(p.of('join').every((f) => Array.isArray(f.body.data) && Number.isInteger(f.body.data[0])));
    p.publish(s.token, s.presenterToken, 'poll', { type: 'text', id: 'p1', metadata: { options: [] } });
    await waitFor(() => p.of('pollResponse').length === 6, 20000, 'six answers');
    p.close();
  } finally {
    r.child.kill('SIGTERM');
  }
  assert.equal(await l.exited(), 0);
  assert.equal(r.stdout().trim().split('\n').length, 1);
  assert.match(r.stderr(), /stopping: SIGTERM/);
});

test('stops when stdin closes, at its maximum lifetime, and refuses bad options', async (t) => {
  await t.test('stdin closes', async () => {
    const l = launch(['--port', '0']);
    (await l.ready()).child.stdin.end();
    assert.equal(await l.exited(), 0);
  });
  await t.test('max lifetime', async () => {
    const l = launch(['--port', '0', '--ignore-stdin', '--max-lifetime', '1']);
    await l.ready();
    assert.equal(await l.exited(), 0);
  });
  for (const bad of [['--transports', 'websocket,smoke'], ['--frobnicate'], ['--learners']])
    await t.test(bad.join(' '), async () => assert.equal(await launch(bad).exited(), 2));
});
