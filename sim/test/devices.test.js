'use strict';
// Simulated learners driven by a test presenter: what the library's live tests
// do not show of them (every question and poll kind, assessments, remote
// control and departures are met there).

const test = require('node:test');
const assert = require('node:assert/strict');
const { startApp, RestClient, presenter, control, waitFor } = require('../testkit/helpers');

let app;
test.before(async () => { app = await startApp(); });
test.after(() => app.stop());

async function classroom() {
  const s = await new RestClient(app.urls.server).startSession();
  return { s, p: await presenter(app, s) };
}

async function addLearners(s, body) {
  const res = await control(app, 'POST', '/learners', { sessionCode: s.code, answerDelay: [0, 5], ...body });
  assert.equal(res.status, 200, JSON.stringify(res.json));
  return res.json.learners;
}

const SHAPE = { base64: /^\["[A-Za-z0-9+/]+=*"\]$/, list: /^\[-?\d+(,-?\d+)*\]$/, text: /^"\[?-?\d+(,-?\d+)*\]?"$/ };

// Each transport is paired with a payload shape, so every shape is seen on the wire.
test('learner behaviour over each transport', async (t) => {
  for (const [transport, shape] of [['websocket', 'base64'], ['xhr-streaming', 'list'], ['xhr-polling', 'text']]) {
    await t.test(transport, async () => {
      const { s, p } = await classroom();
      const [me] = await addLearners(s, { count: 1, transport, shape, names: ['Ada Ö'], deviceType: 'phone' });
      // The bystander is on websocket: an xhr client's departure shows only after the server's disconnect delay.
      const [other] = await addLearners(s, { count: 1, transport: 'websocket', names: ['Bo'] });
      const device = app.devices.get(me.token);
      const from = s.presenterToken;
      const answers = () => p.of('pollResponse', me.token).map((f) => f.decoded.pollId);

      // Join: announced to the presenter address, payload in the chosen shape.
      await waitFor(() => p.of('join').length === 2);
      const join = p.of('join', me.token)[0];
      assert.equal(join.address, s.token + '.presenter');
      assert.deepEqual(join.decoded, { userName: 'Ada Ö', deviceType: 'phone' });
      assert.match(JSON.stringify(join.body.data), SHAPE[shape]);

      // Pause holds the answer until resume.
      p.publish(s.token, from, 'pause', 'poll-p');
      p.publish(s.token, from, 'poll', { type: 'creative', id: 'poll-p', metadata: { options: [] } });
      await waitFor(() => device.held.length === 1, undefined, 'held answer');
      assert.deepEqual(answers(), []);
      p.publish(s.token, from, 'resume', 'poll-p');
      await waitFor(() => answers().length === 1);
      // pollStop drops answers not yet sent.
      device.answerDelay = [60000, 60000];
      p.publish(s.token, from, 'poll', { type: 'text', id: 'poll-x', metadata: { options: [] } });
      await waitFor(() => device.pending.size === 1);
      p.publish(s.token, from, 'pollStop', 'poll-x');
      await waitFor(() => device.pending.size === 0, undefined, 'cancelled answer');

      // Disconnect to another learner's address leaves this one alone; to its own, it leaves.
      p.publish(s.token + '.user.' + other.token, from, 'disconnect', '');
      await waitFor(() => p.departures().length === 1, 20000);
      assert.equal(device.closed, false);
      p.publish(s.token + '.user.' + me.token, from, 'disconnect', '');
      await waitFor(() => p.departures().length === 2, 20000);
      assert.deepEqual(p.departures().map((n) => n.token), [other.token, me.token]);
      const users = (await control(app, 'GET', '/sessions/' + s.code)).json.learners;
      assert.ok(users.filter((u) => u.mode === 'learner').every((u) => u.departed));

      // Records: everything it received, restored.
      const rec = (await control(app, 'GET', '/records?token=' + me.token)).json;
      assert.equal(rec.connected, false);
      assert.deepEqual(rec.records.map((r) => r.type), ['pause', 'poll', 'resume', 'poll', 'pollStop', 'disconnect']);
      const poll = rec.records[1];
      assert.deepEqual([poll.data.id, poll.from, poll.decoded, JSON.parse(poll.raw).body.type],
        ['poll-p', from, true, 'poll']);
      assert.equal(rec.records[0].data, 'poll-p');
      p.close();
    });
  }
});

test('leaving, raw frames, session stop and control errors', async () => {
  const { s, p } = await classroom();
  const learners = await addLearners(s, { count: 4, transport: 'websocket' });
  // Raw frames go out as written; a malformed one is dropped and counted.
  const malformed = app.counters.malformed;
  assert.equal((await control(app, 'POST', '/raw', { token: learners[0].token, frame: 'no json here' })).status, 200);
  await control(app, 'POST', '/raw', { token: learners[0].token,
    frame: JSON.stringify({ type: 'publish', address: s.token + '.presenter', body: { from: 'x', type: 'custom' } }) });
  await waitFor(() => p.of('custom').length === 1);
  assert.equal(app.counters.malformed, malformed + 1);
  // Abrupt and clean leaves both reach the presenter.
  await control(app, 'POST', '/learners/leave', { token: learners[0].token, abrupt: true });
  await control(app, 'POST', '/learners/leave', { token: learners[1].token });
  await waitFor(() => p.departures().length === 2, 20000);
  // Stopping the session sends the rest home.
  const rest = new RestClient(app.urls.server);
  await rest.signIn();
  await rest.post('/quorvane/session/stop', { sessionToken: s.token });
  await waitFor(() => learners.every((l) => app.devices.get(l.token).closed));
  // Control calls about absent things answer 404, not a hang or a crash.
  for (const [method, path, body] of [['POST', '/learners', { sessionCode: 'nope' }],
    ['POST', '/learners/leave', { token: 'u-x' }],
    ['POST', '/raw', { token: learners[2].token, frame: 'x' }], ['GET', '/records?token=u-x'], ['GET', '/nowhere'],
    ['POST', '/controller/send', { type: 'nextCard', sessionCode: s.code }]])
    assert.equal((await control(app, method, path, body)).status, 404, method + ' ' + path);
  assert.equal((await control(app, 'POST', '/learners', { sessionCode: s.code })).status, 409);
  p.close();
});
