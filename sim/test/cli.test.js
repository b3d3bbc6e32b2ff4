'use strict';
// The command line (the ready line and --max-lifetime are met by every live run of the library).

const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('child_process');
const path = require('path');
const { RestClient, presenter, waitFor } = require('../testkit/helpers');

// Starts server.js; ready() resolves with the ready line, exited() with the exit code (each within 20 s).
function launch(args) {
  const child = spawn(process.execPath, [path.join(__dirname, '..', 'server.js'), ...args]);
  const out = { stdout: '', stderr: '' };
  for (const k of Object.keys(out))
    child[k].on('data', (d) => { out[k] += d; });
  const exited = () => waitFor(() => child.exitCode !== null, 20000, 'exit').then(() => child.exitCode);
  const ready = () => waitFor(() => out.stdout.includes('\n'), 20000, 'ready line').then(() => JSON.parse(out.stdout));
  return { child, out, exited, ready };
}

test('--learners joins devices with the given options; logs on stderr; clean stop on SIGTERM', async () => {
  const l = launch(['--port', '0', '--ignore-stdin', '--learners', '3',
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
