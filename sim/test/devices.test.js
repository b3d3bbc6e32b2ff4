'use strict';
// Simulated learners and controllers, driven by a test presenter, over each transport.

const test = require('node:test');
const assert = require('node:assert/strict');
const { startApp, RestClient, presenter, control, waitFor } = require('../testkit/helpers');

let app;
test.before(async () => { app = await startApp(); });
test.after(() => app.stop());

// Each transport is paired with a payload shape, so every shape is seen on the wire.
const RUNS = [['websocket', 'base64'], ['xhr-streaming', 'list'], ['xhr-polling', 'text']];

async function classroom() {
  const s = await new RestClient(app.urls.server).startSession();
  const p = await presenter(app, s);
  return { s, p };
}

async function addLearners(s, body) {
  const res = await control(app, 'POST', '/learners', { sessionCode: s.code, answerDelay: [0, 5], ...body });
  assert.equal(res.status, 200, JSON.stringify(res.json));
  return res.json.learners;
}

const responses = (p, type, from) => p.of(type).filter((f) => !from || f.body.from === from);

function assertShape(data, shape) {
  if (shape === 'base64')
    assert.ok(Array.isArray(data) && typeof data[0] === 'string' && /^[A-Za-z0-9+/]+=*$/.test(data[0]));
  else if (shape === 'list')
    assert.ok(Array.isArray(data) && data.every(Number.isInteger));
  else
    assert.match(data, /^\[?-?\d+(,-?\d+)*\]?$/);
}

test('learner behaviour over each transport', async (t) => {
  for (const [transport, shape] of RUNS) {
    await t.test(transport, async () => {
      const { s, p } = await classroom();
      const [me] = await addLearners(s, { count: 1, transport, shape, names: ['Ada Ö'], deviceType: 'phone' });
      // The bystander is on websocket: an xhr client's departure shows only after the server's disconnect delay.
      const [other] = await addLearners(s, { count: 1, transport: 'websocket', names: ['Bo'] });
      const device = app.devices.get(me.token);

      // Join: announced to the presenter address, payload in the chosen shape.
      await waitFor(() => responses(p, 'join').length === 2);
      const join = responses(p, 'join', me.token)[0];
      assert.equal(join.address, s.token + '.presenter');
      assert.deepEqual(join.decoded, { userName: 'Ada Ö', deviceType: 'phone' });
      assertShape(join.body.data, shape);

      // Questions with and without options.
      const from = s.presenterToken;
      p.publish(s.token, from, 'questionStart', { id: 'q-multi', type: 'multiple', questionSetMode: 'Poll',
        numberOfCorrectOptions: 2, activityOptions: [{ id: 'A' }, { id: 'B' }, { id: 'C' }] });
      p.publish(s.token, from, 'questionStart', { id: 'q-text', type: 'text', questionSetMode: 'Poll' });
      p.publish(s.token, from, 'questionStart', { id: 'q-yn', type: 'true-false', activityOptions: [{ id: 'A' }, { id: 'B' }] });
      await waitFor(() => responses(p, 'questionResponse', me.token).length === 3);
      const byId = Object.fromEntries(responses(p, 'questionResponse', me.token).map((f) => [f.decoded.questionId, f.decoded]));
      assert.equal(byId['q-multi'].optionAnswers.length, 2);
      assert.equal(new Set(byId['q-multi'].optionAnswers.map((o) => o.activityOptionId)).size, 2);
      assert.ok(byId['q-multi'].optionAnswers.every((o) => ['A', 'B', 'C'].includes(o.activityOptionId)));
      assert.equal(byId['q-yn'].optionAnswers.length, 1);
      assert.ok(byId['q-text'].answer.length > 0);
      assert.deepEqual(byId['q-text'].optionAnswers, []);
      for (const r of Object.values(byId))
        assert.ok(Number.isInteger(r.responseTime) && r.responseTime >= 0);

      // Polls: text kinds answer with input, option kinds pick.
      p.publish(s.token, from, 'poll', { type: 'word-seed', id: 'poll-w', metadata: { ordinalType: 'generic', options: [0, 1, 2] } });
      p.publish(s.token, from, 'poll', { type: 'scale', id: 'poll-s', metadata: { ordinalType: 'number', options: [0, 1, 2] } });
      await waitFor(() => responses(p, 'pollResponse', me.token).length === 2);
      const polls = Object.fromEntries(responses(p, 'pollResponse', me.token).map((f) => [f.decoded.pollId, f.decoded]));
      assert.equal(typeof polls['poll-w'].blob.input, 'string');
      assert.ok(['0', '1', '2'].includes(polls['poll-s'].blob.pick[0]));

      // Pause holds the answer until resume.
      p.publish(s.token, from, 'pause', 'poll-p');
      p.publish(s.token, from, 'poll', { type: 'creative', id: 'poll-p', metadata: { options: [] } });
      await waitFor(() => device.held.length === 1, undefined, 'held answer');
      assert.equal(responses(p, 'pollResponse', me.token).length, 2);
      p.publish(s.token, from, 'resume', 'poll-p');
      await waitFor(() => responses(p, 'pollResponse', me.token).some((f) => f.decoded.pollId === 'poll-p'));

      // pollStop drops answers not yet sent.
      device.answerDelay = [60000, 60000];
      p.publish(s.token, from, 'poll', { type: 'text', id: 'poll-x', metadata: { options: [] } });
      await waitFor(() => device.pending.size === 1);
      p.publish(s.token, from, 'pollStop', 'poll-x');
      await waitFor(() => device.pending.size === 0, undefined, 'cancelled answer');
      device.answerDelay = [0, 5];

      // Assessment: asks for each question by number and answers it.
      const answered = responses(p, 'questionResponse', me.token).length;
      p.publish(s.token + '.user.' + me.token, from, 'assessmentStart',
        { assessmentToken: 'as-1', questionCount: 3, startingQuestionNumber: 0 });
      for (let n = 1; n <= 3; n++) {
        await waitFor(() => responses(p, 'questionGet', me.token).length === n, undefined, 'questionGet ' + n);
        const get = responses(p, 'questionGet', me.token)[n - 1];
        assert.deepEqual(get.decoded, { questionNumber: n });
        p.publish(s.token + '.user.' + me.token, from, 'questionStart',
          { id: 'aq' + n, type: 'multiple', questionSetMode: 'Assessment', activityOptions: [{ id: 'A' }, { id: 'B' }] });
        await waitFor(() => responses(p, 'questionResponse', me.token).length === answered + n);
      }
      assert.equal(responses(p, 'questionGet', me.token).length, 3);
      assert.equal(responses(p, 'questionGet', other.token).length, 0);

      // Disconnect to another learner's address leaves this one alone; to its own, it leaves.
      p.publish(s.token + '.user.' + other.token, from, 'disconnect', '');
      await waitFor(() => p.frames.some((f) => f.body && f.body.action === 'unregister'), 20000);
      assert.equal(device.closed, false);
      p.publish(s.token + '.user.' + me.token, from, 'disconnect', '');
      await waitFor(() => p.frames.filter((f) => f.body && f.body.action === 'unregister').length === 2, 20000);
      const notices = p.frames.filter((f) => f.body && f.body.action === 'unregister').map((f) => f.body.client);
      assert.deepEqual(notices.map((n) => n.token), [other.token, me.token]);
      const users = (await control(app, 'GET', '/sessions/' + s.code)).json.learners;
      assert.ok(users.filter((u) => u.mode === 'learner').every((u) => u.departed));

      // Records: everything it received, restored.
      const rec = (await control(app, 'GET', '/records?token=' + me.token)).json;
      assert.equal(rec.connected, false);
      const types = rec.records.map((r) => r.type);
      for (const type of ['questionStart', 'poll', 'pause', 'resume', 'pollStop', 'assessmentStart', 'disconnect'])
        assert.ok(types.includes(type), type);
      const q = rec.records.find((r) => r.type === 'questionStart');
      assert.equal(q.data.id, 'q-multi');
      assert.equal(q.from, from);
      assert.equal(q.decoded, true);
      assert.equal(rec.records.find((r) => r.type === 'pause').data, 'poll-p');
      assert.equal(JSON.parse(q.raw).body.type, 'questionStart');
      p.close();
    });
  }
});

test('controller sends each remote-control type and receives controller messages', async () => {
  const { s, p } = await classroom();
  const ctl = await control(app, 'POST', '/controller', { sessionCode: s.code, transport: 'xhr-streaming' });
  assert.equal(ctl.status, 200);
  const token = ctl.json.token;
  const types = ['stopSession', 'requestLessonInfo', 'requestLesson', 'presenterActive', 'pause', 'resume',
    'lockAll', 'unlockAll', 'nextCard', 'previousCard', 'pushCurrentCard', 'addImageCard'];
  for (const [i, type] of types.entries()) {
    const res = await control(app, 'POST', '/controller/send',
      { type, data: i % 2 ? { card: i } : '', shape: ['base64', 'list', 'text'][i % 3] });
    assert.equal(res.status, 200);
  }
  await waitFor(() => types.every((type) => responses(p, type, token).length === 1));
  assert.deepEqual(responses(p, 'previousCard', token)[0].decoded, { card: 9 });
  assert.equal(responses(p, 'stopSession', token)[0].decoded, '');
  // The presenter's controller messages reach it, a learner's address does not.
  p.publish(s.token + '.controller', s.presenterToken, 'currentCard', { currentCard: '2', totalCards: '3' });
  p.publish(s.token + '.learner', s.presenterToken, 'showCard', { segment: { id: 'any' } });
  await waitFor(() => app.devices.get(token).records.length === 1);
  const rec = (await control(app, 'GET', '/records?token=' + token)).json.records;
  assert.deepEqual(rec.map((r) => [r.type, r.data]), [['currentCard', { currentCard: '2', totalCards: '3' }]]);
  await control(app, 'POST', '/controller/leave', { sessionCode: s.code });
  await waitFor(() => p.frames.some((f) => f.body && f.body.action === 'unregister'));
  assert.deepEqual(p.frames.find((f) => f.body && f.body.action).body.client, { token, type: 'controller' });
  assert.equal((await control(app, 'POST', '/controller/send', { type: 'nextCard', sessionCode: s.code })).status, 404);
  p.close();
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
  await waitFor(() => p.frames.filter((f) => f.body && f.body.action === 'unregister').length === 2, 20000);
  // Stopping the session sends the rest home.
  const rest = new RestClient(app.urls.server);
  await rest.signIn();
  await rest.post('/quorvane/session/stop', { sessionToken: s.token });
  await waitFor(() => learners.every((l) => app.devices.get(l.token).closed));
  // Control calls about absent things answer 404, not a hang or a crash.
  for (const [method, path, body] of [['POST', '/learners', { sessionCode: 'nope' }], ['POST', '/learners/leave', { token: 'u-x' }],
    ['POST', '/raw', { token: learners[2].token, frame: 'x' }], ['GET', '/records?token=u-x'], ['GET', '/nowhere']])
    assert.equal((await control(app, method, path, body)).status, 404, method + ' ' + path);
  assert.equal((await control(app, 'POST', '/learners', { sessionCode: s.code })).status, 409);
  p.close();
});
