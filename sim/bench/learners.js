#!/usr/bin/env node
'use strict';
// Load check of the stand-in: one service process holds N learner devices on
// one session; a test presenter in this process (sockjs-client) publishes a
// poll and waits for every answer.
//
//   node sim/bench/learners.js [--learners 1000] [--transport websocket]
//        [--answer-delay 0,0] [--rounds 3] [--shape random]
//
// Prints one JSON line of figures: join time, per round the time from the
// poll's publish to the last answer received, and the service's memory.

const { spawn } = require('child_process');
const path = require('path');
const readline = require('readline');
const payload = require('../lib/payload');
const { RestClient, connect, request, waitFor } = require('../testkit/helpers');

function args() {
  const o = { learners: 1000, transport: 'websocket', answerDelay: '0,0', rounds: 3, shape: 'random' };
  const a = process.argv.slice(2);
  for (let i = 0; i < a.length; i += 2) {
    const k = a[i].replace(/^--/, '').replace(/-([a-z])/g, (m, c) => c.toUpperCase());
    if (!(k in o))
      throw new Error('unknown option ' + a[i]);
    o[k] = typeof o[k] === 'number' ? Number(a[i + 1]) : a[i + 1];
  }
  return o;
}

function rssOf(pid) {
  const status = require('fs').readFileSync(`/proc/${pid}/status`, 'utf8');
  const m = /VmRSS:\s+(\d+) kB/.exec(status);
  const hwm = /VmHWM:\s+(\d+) kB/.exec(status);
  return { rssMB: m ? Math.round(Number(m[1]) / 1024) : null, peakRssMB: hwm ? Math.round(Number(hwm[1]) / 1024) : null };
}

async function main() {
  const o = args();
  const child = spawn(process.execPath, [path.join(__dirname, '..', 'server.js'), '--port', '0',
    '--answer-delay', o.answerDelay, '--shape', o.shape, '--max-lifetime', '900'],
  { stdio: ['pipe', 'pipe', 'inherit'] });
  const info = await new Promise((resolve, reject) => {
    const rl = readline.createInterface({ input: child.stdout });
    rl.once('line', (l) => resolve(JSON.parse(l)));
    child.once('exit', (c) => reject(new Error('service exited ' + c)));
  });
  const idleRss = rssOf(child.pid);
  const rest = new RestClient(info.server);
  const s = await rest.startSession();
  const presenter = await connect(s.collab, { transport: 'websocket' });
  for (const address of [s.token, s.token + '.presenter', s.token + '.presenter.' + s.presenterToken])
    presenter.json({ type: 'register', address });
  // Publishes as the library does: the data compressed, as Base64 in a list.
  const publish = (address, from, type, data) => presenter.json(
    { type: 'publish', address, body: { from, type, data: payload.encode(JSON.stringify(data), 'base64') } });

  let t0 = Date.now();
  const joined = await request(info.control + '/learners',
    { body: { sessionCode: s.code, count: o.learners, transport: o.transport }, timeout: 300000 });
  if (joined.status !== 200)
    throw new Error('learners did not join: ' + JSON.stringify(joined.json));
  const joinMs = Date.now() - t0;
  await waitFor(() => presenter.of('join').length >= o.learners, 120000, 'joins at the presenter');
  const joinedRss = rssOf(child.pid);

  const rounds = [];
  for (let r = 0; r < o.rounds; r++) {
    const pollId = 'bench-poll-' + r;
    const before = presenter.of('pollResponse').length;
    t0 = Date.now();
    publish(s.token, s.presenterToken, 'poll',
      { type: 'multiple', metadata: { ordinalType: 'alpha-upper', options: [0, 1, 2, 3] }, id: pollId });
    await waitFor(() => presenter.of('pollResponse').length - before >= o.learners, 120000, 'answers');
    const ms = Date.now() - t0;
    const got = presenter.of('pollResponse').slice(before)
      .filter((f) => { const d = payload.decodeValue(f.body.data); return d && d.pollId === pollId; }).length;
    rounds.push({ publishToLastAnswerMs: ms, answers: got });
  }
  const counters = (await request(info.control + '/counters', { method: 'GET' })).json;
  const result = {
    learners: o.learners, transport: o.transport, answerDelay: o.answerDelay, joinMs, rounds,
    idleRssMB: idleRss.rssMB, rssWithLearnersMB: joinedRss.rssMB, ...rssOf(child.pid),
    malformed: counters.malformed, delivered: counters.delivered,
  };
  process.stdout.write(JSON.stringify(result) + '\n');
  presenter.close();
  child.kill('SIGTERM');
}

main().catch((e) => {
  process.stderr.write('bench failed: ' + e.stack + '\n');
  process.exit(1);
});
