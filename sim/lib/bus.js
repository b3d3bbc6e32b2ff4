'use strict';
// The event-bus bridge behind the collaboration SockJS endpoint: connections
// register on addresses, publish bodies to addresses and ping. When a device
// connection ends, the presenters of its sessions are told who left.

const sockjs = require('sockjs');

const USER_RE = /^(.+)\.user\.(.+)$/;
const CONTROLLER_RE = /^(.+)\.controller$/;
const PRESENTER_RE = /^(.+)\.presenter\.(.+)$/;

// The session token that an address belongs to: the text before its first ".".
function sessionOf(address) {
  const dot = address.indexOf('.');
  return dot < 0 ? address : address.slice(0, dot);
}

class Bus {
  constructor(opts) {
    this.counters = opts.counters;
    this.log = opts.log || (() => {});
    this.onDeparted = opts.onDeparted || (() => {});
    // How long a presenter waits for its own publishes to come back (ms).
    this.echoDelay = opts.echoDelay || (() => 0);
    this.registry = new Map(); // address -> Set of client states
    this.clients = new Set();
    this.addressWaiters = new Map(); // address -> [resolve] until someone registers on it
    this.tokenWatchers = new Map(); // device token -> function(client, frame) after each frame it sends
  }

  // Creates the sockjs server for `prefix`; call installHandlers on it.
  createServer(prefix, heartbeatMs) {
    const server = sockjs.createServer({ prefix, log: sockjsLog(this.log), heartbeat_delay: heartbeatMs || 25000 });
    server.on('connection', (conn) => this.attach(conn));
    return server;
  }

  attach(conn) {
    if (!conn)
      return;
    const client = { conn, addresses: new Set(), sessions: new Set(), token: null, kind: null };
    this.clients.add(client);
    this.counters.connections++;
    conn.on('data', (msg) => {
      try {
        this.handle(client, msg);
      } catch (e) {
        this.counters.malformed++;
        this.log('frame failed: ' + (e && e.stack));
      }
    });
    conn.on('close', () => this.detach(client));
  }

  handle(client, msg) {
    let frame;
    try {
      frame = JSON.parse(msg);
    } catch (e) {
      frame = null;
    }
    if (!frame || typeof frame !== 'object' || Array.isArray(frame) || typeof frame.type !== 'string') {
      this.counters.malformed++;
      return;
    }
    const address = frame.address;
    const hasAddress = typeof address === 'string' && address.length > 0;
    switch (frame.type) {
    case 'ping':
      this.counters.pings++;
      return;
    case 'register':
      if (!hasAddress)
        break;
      this.register(client, address);
      this.notify(client, frame);
      return;
    case 'unregister':
      if (!hasAddress)
        break;
      this.unregister(client, address);
      return;
    case 'publish':
    case 'send':
      if (!hasAddress || !('body' in frame))
        break;
      this.learnFromBody(client, address, frame.body);
      this.publish(address, frame.body);
      this.notify(client, frame);
      return;
    default:
      break;
    }
    this.counters.malformed++;
  }

  notify(client, frame) {
    const w = client.token && this.tokenWatchers.get(client.token);
    if (w)
      w(client, frame);
  }

  register(client, address) {
    let set = this.registry.get(address);
    if (!set) {
      set = new Set();
      this.registry.set(address, set);
    }
    set.add(client);
    client.addresses.add(address);
    client.sessions.add(sessionOf(address));
    this.counters.registered++;
    const waiters = this.addressWaiters.get(address);
    if (waiters) {
      this.addressWaiters.delete(address);
      for (const w of waiters)
        w(true);
    }
    let m;
    if ((m = PRESENTER_RE.exec(address))) {
      client.kind = 'presenter';
      client.token = m[2];
    } else if (CONTROLLER_RE.test(address)) {
      if (client.kind !== 'presenter')
        client.kind = 'controller';
    } else if ((m = USER_RE.exec(address))) {
      if (!client.kind)
        client.kind = 'user';
      if (client.kind !== 'presenter')
        client.token = m[2];
    }
  }

  // Resolves true once a connection registers on `address` (at once when one
  // is registered), false after `timeoutMs`.
  whenRegistered(address, timeoutMs) {
    const set = this.registry.get(address);
    if (set && set.size)
      return Promise.resolve(true);
    return new Promise((resolve) => {
      const timer = setTimeout(() => {
        const list = this.addressWaiters.get(address) || [];
        const i = list.indexOf(done);
        if (i >= 0)
          list.splice(i, 1);
        if (!list.length)
          this.addressWaiters.delete(address);
        resolve(false);
      }, timeoutMs);
      const done = (v) => {
        clearTimeout(timer);
        resolve(v);
      };
      if (!this.addressWaiters.has(address))
        this.addressWaiters.set(address, []);
      this.addressWaiters.get(address).push(done);
    });
  }

  unregister(client, address) {
    const set = this.registry.get(address);
    if (set) {
      set.delete(client);
      if (!set.size)
        this.registry.delete(address);
    }
    client.addresses.delete(address);
  }

  learnFromBody(client, address, body) {
    client.sessions.add(sessionOf(address));
    if (!client.token && client.kind !== 'presenter' && body && typeof body === 'object' && typeof body.from === 'string' && body.from)
      client.token = body.from;
    if (!client.kind && client.token)
      client.kind = 'user';
  }

  // Delivers `body` to every connection registered on `address`.
  publish(address, body) {
    this.counters.published++;
    const set = this.registry.get(address);
    if (!set || !set.size)
      return 0;
    const text = JSON.stringify({ type: 'publish', address, body });
    const delay = this.echoDelay();
    for (const c of set) {
      if (delay > 0 && c.kind === 'presenter' && body && body.from === c.token)
        setTimeout(() => { if (this.clients.has(c)) c.conn.write(text); }, delay).unref();
      else
        c.conn.write(text);
    }
    this.counters.delivered += set.size;
    return set.size;
  }

  detach(client) {
    if (!this.clients.delete(client))
      return;
    this.counters.disconnects++;
    for (const a of client.addresses)
      this.unregister(client, a);
    if (client.token && (client.kind === 'user' || client.kind === 'controller')) {
      for (const s of client.sessions) {
        this.publish(s + '.presenter', { action: 'unregister', client: { token: client.token, type: client.kind } });
        this.onDeparted(s, client.token, client.kind);
      }
    }
  }

  // Ends the SockJS sessions of the presenters of `sessionToken` (as a
  // server that restarts or sheds load does); returns how many.
  dropPresenters(sessionToken) {
    let n = 0;
    for (const c of Array.from(this.clients)) {
      if (c.kind === 'presenter' && c.sessions.has(sessionToken)) {
        c.conn.close(3000, 'Dropped by control');
        n++;
      }
    }
    return n;
  }

  // How many connections are registered on `address`.
  registrations(address) {
    const set = this.registry.get(address);
    return set ? set.size : 0;
  }

  closeAll() {
    for (const list of this.addressWaiters.values())
      for (const w of list)
        w(false);
    this.addressWaiters.clear();
    for (const c of Array.from(this.clients))
      c.conn.close(1000, 'Server shutting down');
  }
}

function sockjsLog(log) {
  return (severity, line) => {
    if (severity === 'error')
      log('sockjs: ' + line);
  };
}

function createEchoServer(prefix, log, heartbeatMs) {
  const server = sockjs.createServer({ prefix, log: sockjsLog(log), heartbeat_delay: heartbeatMs || 25000 });
  server.on('connection', (conn) => {
    if (conn)
      conn.on('data', (msg) => conn.write(msg));
  });
  return server;
}

module.exports = { Bus, createEchoServer, sessionOf };
