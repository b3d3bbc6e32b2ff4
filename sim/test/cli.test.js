'use strict';
// The command line: automatic learners, stopping, refused options (the ready
// line and --max-lifetime are met by every live run of the library).

const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('child_process');
const path = require('path');
const payload = require('../lib/payload');
const { RestClient, presenter, waitFor } = require('../testkit/helpers');

// Starts server.js; ready() resolves with the ready line, exited() with the exit code (each within 20 s).
function launch(args) {
  const child = spawn(process.execPath, [path.join(__dirname, '..', 'server.js'), ...args]);
  const out = { stdout: '', stderr: '' };
  for (const k of Object.keys(out))
    child[k].on('data', (d) => { out[k] += d; });
  const exit = new Promise((resolve) => child.once('exit', resolve));
  const exited = () => Promise.race([exit,
    new Promise((_, reject) => setTimeout(() => reject(new Error('no exit')), 20000).unref())]);
  const ready = () => waitFor(() => out.stdout.includes('\n'), 20000, 'ready line').then(() => JSON.parse(out.stdout));
  return { child, out, exited, ready };
}

test('--learners joins and answers with the given options; logs on stderr; clean stop on SIGTERM', async () => {
  const l = launch(['--port', '0', '--ignore-stdin', '--learners', '3', '--answer-delay', '0,5',
    '--transports', 'xhr-polling,websocket', '--shape', 'list']);
  try {
    const info = await l.ready();
    const rest = new RestClient(info.server);
    await rest.signIn();
    assert.deepEqual((await rest.post('/config/findTenantFeatureDetails', {})).json.data.sockJSProtocols,
      ['xhr-polling', 'websocket']);
    // The devices join only once the presenter listens, so it sees every join.
    const s = await rest.startSession();
    const p = await presenter({ urls: info }, s);
    await waitFor(() => p.of('join').length === 3, 20000, 'three joins');
    assert.ok(p.of('join').every((f) => Array.isArray(f.body.data) && Number.isInteger(f.body.data[0])));
    const poll = payload.encode(JSON.stringify({ type: 'text', id: 'p1', metadata: { options: [] } }), 'base64');
    p.json({ type: 'publish', address: s.token, body: { from: s.presenterToken, type: 'poll', data: poll } });
    await waitFor(() => p.of('pollResponse').length === 3, 20000, 'three answers');
    p.close();
  } finally {
    l.child.kill('SIGTERM');
  }
  assert.equal(await l.exited(), 0);
  assert.equal(l.out.stdout.trim().split('\n').length, 1);
  assert.match(l.out.stderr, /stopping: SIGTERM/);
});

test('stops when stdin closes; refuses bad options with exit code 2', async (t) => {
  await t.test('stdin closes', async () => {
    const l = launch(['--port', '0']);
    await l.ready();
    l.child.stdin.end();
    assert.equal(await l.exited(), 0);
  });
  for (const bad of [['--transports', 'websocket,smoke'], ['--frobnicate'], ['--learners'], ['--answer-delay', '5']])
    await t.test(bad.join(' '), async () => assert.equal(await launch(bad).exited(), 2));
});
