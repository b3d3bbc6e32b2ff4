'use strict';
// Simulated learners and controllers, driven by a test presenter, over each transport.

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
      const mine = (type) => p.of(type, me.token);
      const decoded = (type) => Object.fromEntries(mine(type).map((f) => [f.decoded.questionId || f.decoded.pollId,
        f.decoded]));

      // Join: announced to the presenter address, payload in the chosen shape.
      await waitFor(() => p.of('join').length === 2);
      const join = mine('join')[0];
      assert.equal(join.address, s.token + '.presenter');
      assert.deepEqual(join.decoded, { userName: 'Ada Ö', deviceType: 'phone' });
      assert.match(JSON.stringify(join.body.data), SHAPE[shape]);

      // Questions with and without options.
      p.publish(s.token, from, 'questionStart', { id: 'q-multi', type: 'multiple', questionSetMode: 'Poll',
        numberOfCorrectOptions: 2, activityOptions: [{ id: 'A' }, { id: 'B' }, { id: 'C' }] });
      p.publish(s.token, from, 'questionStart', { id: 'q-text', type: 'text', questionSetMode: 'Poll' });
      p.publish(s.token, from, 'questionStart', { id: 'q-yn', type: 'true-false', activityOptions: [{ id: 'A' }, { id: 'B' }] });
      await waitFor(() => mine('questionResponse').length === 3);
      const byId = decoded('questionResponse');
      const picks = byId['q-multi'].optionAnswers.map((o) => o.activityOptionId);
      assert.ok(picks.length === 2 && picks[0] !== picks[1] && picks.every((id) => 'ABC'.includes(id)), picks);
      assert.equal(byId['q-yn'].optionAnswers.length, 1);
      assert.ok(byId['q-text'].answer.length > 0);
      assert.deepEqual(byId['q-text'].optionAnswers, []);
      for (const r of Object.values(byId))
        assert.ok(Number.isInteger(r.responseTime) && r.responseTime >= 0);

      // Polls: text kinds answer with input, option kinds pick.
      p.publish(s.token, from, 'poll', { type: 'word-seed', id: 'poll-w', metadata: { ordinalType: 'generic', options: [0, 1, 2] } });
      p.publish(s.token, from, 'poll', { type: 'scale', id: 'poll-s', metadata: { ordinalType: 'number', options: [0, 1, 2] } });
      await waitFor(() => mine('pollResponse').length === 2);
      const polls = decoded('pollResponse');
      assert.equal(typeof polls['poll-w'].blob.input, 'string');
      assert.ok(['0', '1', '2'].includes(polls['poll-s'].blob.pick[0]));

      // Pause holds the answer until resume.
      p.publish(s.token, from, 'pause', 'poll-p');
      p.publish(s.token, from, 'poll', { type: 'creative', id: 'poll-p', metadata: { options: [] } });
      await waitFor(() => device.held.length === 1, undefined, 'held answer');
      assert.equal(mine('pollResponse').length, 2);
      p.publish(s.token, from, 'resume', 'poll-p');
      await waitFor(() => decoded('pollResponse')['poll-p']);

      // pollStop drops answers not yet sent.
      device.answerDelay = [60000, 60000];
      p.publish(s.token, from, 'poll', { type: 'text', id: 'poll-x', metadata: { options: [] } });
      await waitFor(() => device.pending.size === 1);
      p.publish(s.token, from, 'pollStop', 'poll-x');
      await waitFor(() => device.pending.size === 0, undefined, 'cancelled answer');
      device.answerDelay = [0, 5];

      // Assessment: asks for each question by number and answers it.
      const answered = mine('questionResponse').length;
      const own = s.token + '.user.' + me.token;
      p.publish(own, from, 'assessmentStart', { assessmentToken: 'as-1', questionCount: 3, startingQuestionNumber: 0 });
      for (let n = 1; n <= 3; n++) {
        await waitFor(() => mine('questionGet').length === n, undefined, 'questionGet ' + n);
        assert.deepEqual(mine('questionGet')[n - 1].decoded, { questionNumber: n });
        p.publish(own, from, 'questionStart',
          { id: 'aq' + n, type: 'multiple', questionSetMode: 'Assessment', activityOptions: [{ id: 'A' }, { id: 'B' }] });
        await waitFor(() => mine('questionResponse').length === answered + n);
      }
      assert.equal(p.of('questionGet').length, 3);

      // Disconnect to another learner's address leaves this one alone; to its own, it leaves.
      p.publish(s.token + '.user.' + other.token, from, 'disconnect', '');
      await waitFor(() => p.departures().length === 1, 20000);
      assert.equal(device.closed, false);
      p.publish(own, from, 'disconnect', '');
      await waitFor(() => p.departures().length === 2, 20000);
      assert.deepEqual(p.departures().map((n) => n.token), [other.token, me.token]);
      const users = (await control(app, 'GET', '/sessions/' + s.code)).json.learners;
      assert.ok(users.filter((u) => u.mode === 'learner').every((u) => u.departed));

      // Records: everything it received, restored.
      const rec = (await control(app, 'GET', '/records?token=' + me.token)).json;
      assert.equal(rec.connected, false);
      const types = new Set(rec.records.map((r) => r.type));
      for (const type of ['questionStart', 'poll', 'pause', 'resume', 'pollStop', 'assessmentStart', 'disconnect'])
        assert.ok(types.has(type), type);
      const q = rec.records.find((r) => r.type === 'questionStart');
      assert.deepEqual([q.data.id, q.from, q.decoded, JSON.parse(q.raw).body.type], ['q-multi', from, true, 'questionStart']);
      assert.equal(rec.records.find((r) => r.type === 'pause').data, 'poll-p');
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
  await waitFor(() => types.every((type) => p.of(type, token).length === 1));
  assert.deepEqual(p.of('previousCard', token)[0].decoded, { card: 9 });
  assert.equal(p.of('stopSession', token)[0].decoded, '');
  // The presenter's controller messages reach it, a learner's address does not.
  p.publish(s.token + '.controller', s.presenterToken, 'currentCard', { currentCard: '2', totalCards: '3' });
  p.publish(s.token + '.learner', s.presenterToken, 'showCard', { segment: { id: 'any' } });
  await waitFor(() => app.devices.get(token).records.length === 1);
  const rec = (await control(app, 'GET', '/records?token=' + token)).json.records;
  assert.deepEqual(rec.map((r) => [r.type, r.data]), [['currentCard', { currentCard: '2', totalCards: '3' }]]);
  await control(app, 'POST', '/controller/leave', { sessionCode: s.code });
  await waitFor(() => p.departures().length === 1);
  assert.deepEqual(p.departures(), [{ token, type: 'controller' }]);
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
  await waitFor(() => p.departures().length === 2, 20000);
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
