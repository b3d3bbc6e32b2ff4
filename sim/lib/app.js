'use strict';
// One stand-in process: REST service, collaboration and echo SockJS
// endpoints, control interface and the simulated devices, on one port.

const http = require('http');
const http2 = require('http2');
const https = require('https');
const express = require('express');
const { Service } = require('./service');
const { Switches } = require('./switches');
const { Bus, createEchoServer } = require('./bus');
const { Device, TRANSPORTS } = require('./device');
const { controlRouter } = require('./control');
const tls = require('./tls');

// How long after a session stops its simulated devices leave (see leaveSession).
const SESSION_END_GRACE_MS = 200;

const COUNTER_NAMES = ['malformed', 'published', 'delivered', 'registered', 'pings', 'answers', 'joins',
  'connections', 'disconnects', 'deviceConnections', 'requests'];

const AUTO_JOIN_WAIT_MS = 120000;

function zeroCounters() {
  const c = {};
  for (const n of COUNTER_NAMES)
    c[n] = 0;
  return c;
}

class StandInApp {
  // opts: {host, port, tls, transports, learners, answerDelay, shape, gzip, basicAuth, log}
  constructor(opts = {}) {
    this.opts = Object.assign({ host: '127.0.0.1', port: 0, transports: null, learners: 0,
      answerDelay: [200, 2000], shape: 'random' }, opts);
    this.log = opts.log || ((line) => process.stderr.write('[stand-in] ' + line + '\n'));
    this.counters = zeroCounters();
    this.devices = new Map(); // token -> Device
    this.deviceSeq = 0;
    this.switches = new Switches({ gzip: !!opts.gzip, basicAuth: opts.basicAuth || null });
    this.service = new Service({
      transports: this.opts.transports || TRANSPORTS.slice(),
      // A front end (a proxy in a test) may stand between presenters and the bus.
      urls: () => Object.assign({}, this.urls, this.switches.values.collabUrl ? { collab: this.switches.values.collabUrl } : {}),
      counters: this.counters,
      log: this.log,
    });
    this.service.onSessionStarted = (s) => this.autoJoin(s);
    this.service.onSessionStopped = (s) => this.leaveSession(s);
    this.bus = new Bus({
      counters: this.counters,
      log: this.log,
      onDeparted: (sessionToken, token) => this.service.memberDeparted(sessionToken, token),
      echoDelay: () => this.switches.values.echoDelay,
    });
  }

  async start() {
    const app = express();
    app.disable('x-powered-by');
    app.use('/quorvane', this.service.router(this.switches));
    app.use('/control', controlRouter(this));
    app.use((req, res) => res.status(404).json({ errorMsgKeys: ['error.notFound'] }));
    if (this.opts.tls) {
      this.tls = tls.generateCertificates();
      // Offers HTTP/2 in the TLS handshake, as public front ends do, yet speaks
      // HTTP/1.1 only: a client that takes up the offer is answered 505.
      this.server = http2.createSecureServer({ key: this.tls.key, cert: this.tls.cert, allowHTTP1: true },
        (req, res) => {
          if (req.httpVersionMajor !== 2)
            return app(req, res);
          res.writeHead(505, { 'content-type': 'application/json' });
          res.end(JSON.stringify({ errorMsgKeys: ['error.http2'] }));
        });
    } else {
      this.server = http.createServer(app);
    }
    this.server.keepAliveTimeout = 30000;
    this.sockets = new Set();
    this.server.on('connection', (s) => {
      this.sockets.add(s);
      s.on('close', () => this.sockets.delete(s));
    });
    this.sockjsConns = new Set();
    const hb = this.opts.heartbeat;
    for (const sjs of [this.bus.createServer('/collab/eventbus', hb), createEchoServer('/echo/eventbus', this.log, hb)]) {
      sjs.on('connection', (conn) => {
        if (!conn)
          return;
        this.sockjsConns.add(conn);
        conn.on('close', () => this.sockjsConns.delete(conn));
      });
      sjs.installHandlers(this.server);
    }
    await new Promise((resolve, reject) => {
      this.server.once('error', reject);
      this.server.listen(this.opts.port, this.opts.host, resolve);
    });
    const port = this.server.address().port;
    const host = this.opts.host.includes(':') ? '[' + this.opts.host + ']' : this.opts.host;
    const base = (this.opts.tls ? 'https' : 'http') + '://' + host + ':' + port;
    this.urls = {
      server: base, rest: base + '/quorvane', collab: base + '/collab', echo: base + '/echo',
      control: base + '/control', port, caFile: this.tls ? this.tls.caFile : null,
    };
    if (this.tls) {
      // The devices' XHR transports use the global agent.
      https.globalAgent.options.ca = this.tls.ca;
    }
    return this.urls;
  }

  readyInfo() {
    return Object.assign({}, this.urls);
  }

  resetCounters() {
    for (const n of COUNTER_NAMES)
      this.counters[n] = 0;
  }

  clearRecords() {
    for (const d of this.devices.values())
      d.records = [];
  }

  newDevice(session, o, mode) {
    const n = ++this.deviceSeq;
    const d = new Device({
      urls: this.urls, ca: this.tls ? this.tls.ca : null, bus: this.bus, counters: this.counters,
      sessionCode: session.code, mode,
      name: o.name || (mode === 'controller' ? 'Remote ' + n : 'Learner ' + n),
      deviceType: o.deviceType, transport: o.transport || 'websocket', shape: o.shape || this.opts.shape,
      answerDelay: o.answerDelay || this.opts.answerDelay, fillText: o.fillText, correctRate: o.correctRate,
      log: this.log,
    });
    return d;
  }

  async startDevice(d) {
    try {
      await d.start();
    } catch (e) {
      d.leave(true);
      throw e;
    }
    this.devices.set(d.token, d);
    if (d.mode === 'learner')
      this.counters.joins++;
    return d;
  }

  // Starts `count` learners on `session`; resolves when all have joined.
  async addLearners(session, o) {
    const devices = [];
    for (let i = 0; i < o.count; i++) {
      devices.push(this.newDevice(session, {
        name: o.names && o.names[i], deviceType: o.deviceType,
        transport: Array.isArray(o.transport) ? o.transport[i % o.transport.length] : o.transport,
        shape: o.shape, answerDelay: o.answerDelay, fillText: o.fillText, correctRate: o.correctRate,
      }, 'learner'));
    }
    // Bounded concurrency keeps a large class from flooding the event loop.
    const queue = devices.slice();
    const errors = [];
    const worker = async () => {
      while (queue.length) {
        const d = queue.shift();
        await this.startDevice(d).catch((e) => errors.push(e));
      }
    };
    await Promise.all(Array.from({ length: Math.min(50, devices.length) }, worker));
    if (errors.length)
      throw new Error(`${errors.length} of ${devices.length} learners failed: ${errors[0].message}`);
    return devices;
  }

  async addController(session, o) {
    return this.startDevice(this.newDevice(session, o, 'controller'));
  }

  // With --learners, the class walks in once the presenter listens on its
  // address, so it sees every join (after a while, it comes in regardless).
  async autoJoin(session) {
    const n = this.opts.learners;
    if (this.opts.controller)
      this.autoController(session);
    if (!n)
      return;
    const present = await this.bus.whenRegistered(session.token + '.presenter', AUTO_JOIN_WAIT_MS);
    if (this.stopping || session.stopped)
      return;
    if (!present)
      this.log(`no presenter on session ${session.code}; learners join anyway`);
    const transports = this.opts.transports || ['websocket'];
    try {
      await this.addLearners(session, { count: n, transport: transports });
      this.log(`${n} learners joined session ${session.code}`);
    } catch (e) {
      this.log('auto-join failed: ' + e.message);
    }
  }

  // With --controller, a remote controller joins once the presenter listens
  // and sends its commands, a second apart.
  async autoController(session) {
    const present = await this.bus.whenRegistered(session.token + '.presenter', AUTO_JOIN_WAIT_MS);
    if (!present || this.stopping || session.stopped)
      return;
    try {
      const d = await this.addController(session, {});
      for (const type of this.opts.controller) {
        await new Promise((r) => setTimeout(r, 1000));
        if (d.closed)
          return;
        d.publish(type, '', undefined, 'base64');
      }
    } catch (e) {
      this.log('controller failed: ' + e.message);
    }
  }

  // A stopped session's devices leave a little later, as the end reaches real
  // devices through the collaboration server: what the presenter published
  // just before the stop (its "disconnect") is still delivered first.
  leaveSession(session) {
    setTimeout(() => {
      for (const d of this.devices.values()) {
        if (d.opts.sessionCode === session.code)
          d.leave(false);
      }
    }, SESSION_END_GRACE_MS);
  }

  async stop() {
    this.stopping = true;
    for (const d of this.devices.values())
      d.leave(true);
    this.switches.destroyHanging();
    this.bus.closeAll();
    if (this.server) {
      await new Promise((resolve) => {
        this.server.close(() => resolve());
        for (const s of this.sockets)
          s.destroy();
      });
      // The sockjs sessions wait out their disconnect delay on timers that
      // would keep an embedding process (a test) alive; nobody is left to wait for.
      await new Promise((resolve) => setImmediate(resolve));
      for (const conn of this.sockjsConns) {
        const session = conn._session;
        if (session && session.to_tref) {
          clearTimeout(session.to_tref);
          session.to_tref = null;
        }
      }
    }
    tls.removeCertificates(this.tls);
  }
}

module.exports = { StandInApp, COUNTER_NAMES };
