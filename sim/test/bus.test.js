'use strict';
// The event-bus bridge (the echo endpoint is met by the library's transport tests).

const test = require('node:test');
const assert = require('node:assert/strict');
const { startApp, BusClient, control, waitFor } = require('../testkit/helpers');

let app;
test.before(async () => { app = await startApp(); });
test.after(() => app.stop());

const TRANSPORTS = ['websocket', 'xhr-streaming', 'xhr-polling'];

async function client(transport = 'websocket') {
  const c = new BusClient(app.urls.collab, { transport });
  await c.opened;
  return c;
}

// Registers and waits until the bridge holds the registration.
async function registered(c, address) {
  c.register(address);
  await waitFor(() => app.bus.registry.has(address) && app.bus.registry.get(address).size > 0, undefined, address);
}

test('publish reaches exactly the connections registered on the address', async () => {
  const [a, b, c] = await Promise.all(TRANSPORTS.map((t) => client(t)));
  await registered(a, 'room.one');
  await registered(b, 'room.one');
  await registered(c, 'room.two');
  a.register('room.one'); // twice: still one delivery
  const body = { from: 'x', type: 'note', data: ['AAAA'], extra: { n: 1 } };
  c.send({ type: 'publish', address: 'room.one', body });
  await waitFor(() => a.frames.length === 1 && b.frames.length === 1);
  assert.deepEqual(a.frames[0], { type: 'publish', address: 'room.one', body, decoded: undefined });
  // "send" is a publish too; nobody registered elsewhere receives it.
  a.send({ type: 'send', address: 'room.two', body: 'just text' });
  await waitFor(() => c.frames.length === 1);
  assert.equal(c.frames[0].body, 'just text');
  // After unregistering, b no longer receives.
  b.send({ type: 'unregister', address: 'room.one' });
  await waitFor(() => app.bus.registry.get('room.one').size === 1);
  const before = app.counters.delivered;
  c.send({ type: 'publish', address: 'room.one', body: 2 });
  c.send({ type: 'publish', address: 'nobody.here', body: 3 });
  await waitFor(() => a.frames.length === 2 && app.counters.delivered === before + 1);
  assert.equal(b.frames.length, 1);
  for (const x of [a, b, c])
    x.close();
});

test('a departing device is announced to the presenters of its session', async () => {
  const s = 's-bus1';
  const p = await client();
  for (const a of [s, s + '.presenter', s + '.presenter.pres-1'])
    await registered(p, a);
  // A learner known by its own address, one over each transport.
  for (const [i, transport] of TRANSPORTS.entries()) {
    const l = await client(transport);
    await registered(l, `${s}.user.l${i}`);
    l.close();
  }
  await waitFor(() => p.departures().length === 3, 20000, 'learner notices');
  assert.deepEqual(p.departures().sort((x, y) => (x.token < y.token ? -1 : 1)),
    ['l0', 'l1', 'l2'].map((token) => ({ token, type: 'user' })));
  // A controller known by its address and its publishes.
  const ctl = await client();
  await registered(ctl, s + '.controller');
  ctl.send({ type: 'publish', address: s + '.presenter', body: { from: 'c9', type: 'nextCard', data: '' } });
  await waitFor(() => p.of('nextCard').length === 1);
  ctl.close();
  await waitFor(() => p.departures().length === 4);
  assert.deepEqual(p.departures()[3], { token: 'c9', type: 'controller' });
  // Another presenter, and a connection that never named itself, leave silently.
  const ends = app.counters.disconnects;
  for (const address of [s + '.presenter.pres-2', s]) {
    const other = await client();
    await registered(other, address);
    other.close();
  }
  await waitFor(() => app.counters.disconnects >= ends + 2 || app.bus.clients.size <= 2);
  await new Promise((r) => setTimeout(r, 50));
  assert.equal(p.departures().length, 4);
  p.close();
});

test('malformed frames are dropped and counted; the connection and service go on', async (t) => {
  const bad = ['not json', '', '[]', '[{"type":"publish"}]', '42', 'null', '"text"', '{}', '{"type":7}',
    '{"type":"register"}', '{"type":"register","address":""}', '{"type":"register","address":5}',
    '{"type":"publish","address":"a"}', '{"type":"publish","body":{}}', '{"type":"launch","address":"a"}',
    '{"type":"publish","address":"a","body":{}', '\u0000\uffff', '{"__proto__":{"type":"publish"}}'];
  for (const transport of TRANSPORTS) {
    await t.test(transport, async () => {
      const c = await client(transport);
      await control(app, 'POST', '/counters/reset');
      for (const f of bad)
        c.send(f);
      c.send({ type: 'ping' });
      await waitFor(() => app.counters.pings === 1, undefined, 'ping after the bad frames');
      assert.equal(app.counters.malformed, bad.length);
      await registered(c, 'still.alive.' + transport);
      c.send({ type: 'publish', address: 'still.alive.' + transport, body: { ok: true } });
      await waitFor(() => c.frames.length === 1);
      c.close();
    });
  }
});
