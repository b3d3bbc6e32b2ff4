'use strict';
// Simulated learner devices and remote controllers. Each joins a session with
// the REST join, connects with sockjs-client over one transport, registers on
// its addresses and then behaves as a real device: it answers questions, polls
// and assessment questions after a delay, honours pause, resume, pollStop and
// disconnect, and records every message it receives.

const http = require('http');
const https = require('https');
const SockJS = require('sockjs-client');
const payload = require('./payload');
const { DEVICE_HEADER } = require('./service');

const TRANSPORTS = ['websocket', 'xhr-streaming', 'xhr-polling'];
const CONNECT_TIMEOUT_MS = 30000;

function postJson(url, body, ca) {
  return new Promise((resolve, reject) => {
    const u = new URL(url);
    const text = JSON.stringify(body);
    const mod = u.protocol === 'https:' ? https : http;
    const req = mod.request(u, {
      method: 'POST',
      headers: { 'Content-Type': 'application/json', 'Content-Length': Buffer.byteLength(text), [DEVICE_HEADER]: '1' },
      ca: ca || undefined,
      timeout: CONNECT_TIMEOUT_MS,
    }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => {
        let parsed = null;
        try {
          parsed = JSON.parse(Buffer.concat(chunks).toString('utf8'));
        } catch (e) { /* reported below */ }
        if (res.statusCode !== 200 || !parsed)
          reject(new Error(`join answered ${res.statusCode}: ${parsed ? JSON.stringify(parsed.errorMsgKeys) : 'no JSON'}`));
        else
          resolve(parsed);
      });
    });
    req.on('timeout', () => req.destroy(new Error('join timed out')));
    req.on('error', reject);
    req.end(text);
  });
}

function randomBetween(min, max) {
  return Math.round(min + Math.random() * Math.max(0, max - min));
}

function pickRandom(list) {
  return list[Math.floor(Math.random() * list.length)];
}

// Text-entry kinds of activity; everything else with options is answered by picking.
const INPUT_ANSWERS = {
  text: () => pickRandom(['photosynthesis', 'the water cycle', 'I am not sure']),
  number: (q) => (Math.random() * 100).toFixed(Math.max(0, Math.min(6, Number(q.noOfDecimals) || 0))),
  'math formula': () => 'x^2+1',
  'word-seed': () => pickRandom(['energy', 'growth', 'light']),
  creative: () => 'sketch-' + Math.floor(Math.random() * 1000),
};

class Device {
  // opts: {urls, ca, bus, counters, sessionCode, name, deviceType, transport,
  //        shape, answerDelay: [min, max], fillText, correctRate, mode: 'learner'|'controller', log}
  constructor(opts) {
    this.opts = opts;
    this.mode = opts.mode || 'learner';
    this.name = opts.name;
    this.deviceType = opts.deviceType || (this.mode === 'controller' ? 'remote' : 'tablet');
    this.transport = opts.transport || 'websocket';
    if (!TRANSPORTS.includes(this.transport))
      throw new Error('unknown transport: ' + this.transport);
    this.shape = opts.shape || 'random';
    if (![...payload.SHAPES, 'random'].includes(this.shape))
      throw new Error('unknown shape: ' + this.shape);
    this.answerDelay = opts.answerDelay || [200, 2000];
    // Devices that fill both parts of an option answer: a text beside the chosen ids.
    this.fillText = !!opts.fillText;
    // How often an assessment question with correct options is answered right.
    this.correctRate = opts.correctRate === undefined ? 0.5 : opts.correctRate;
    this.records = [];
    this.pending = new Set(); // {timer, kind, fire}
    this.held = []; // answers due while paused
    this.paused = false;
    this.assessment = null;
    this.token = null;
    this.sessionToken = null;
    this.sock = null;
    this.closed = false;
    this.onLeft = () => {};
  }

  get presenterAddress() {
    return this.sessionToken + '.presenter';
  }

  get ownAddress() {
    return this.sessionToken + '.user.' + this.token;
  }

  // Joins, connects, registers and (as a learner) announces itself.
  // Resolves once the bus has seen the announcement.
  async start() {
    const answer = await postJson(this.opts.urls.rest + '/classroom/session/join', {
      userName: this.name, sessionCode: this.opts.sessionCode, mode: this.mode,
      deviceName: this.name + '_' + this.deviceType, deviceType: this.deviceType,
    }, this.opts.ca);
    this.token = answer.data.userToken;
    this.sessionToken = answer.data.sessionToken;
    await this.attach();
    return this;
  }

  // Connects, registers and (as a learner) announces itself; resolves once
  // the bus has seen the announcement.
  async attach() {
    const announced = this.waitForBus();
    try {
      await this.connect();
    } catch (e) {
      announced.cancel();
      throw e;
    }
    const addresses = this.mode === 'controller'
      ? [this.sessionToken + '.controller', this.ownAddress]
      : [this.sessionToken, this.sessionToken + '.learner', this.ownAddress];
    for (const a of addresses)
      this.sendFrame({ type: 'register', address: a });
    if (this.mode === 'learner')
      this.publish('join', { userName: this.name, deviceType: this.deviceType });
    await announced.promise;
  }

  // Drops its connection and comes back with the same token, as a device
  // whose network went away does: it keeps what it knows (an assessment in
  // progress), and what was due while it was away is lost.
  async reconnect() {
    const sock = this.sock;
    this.reconnecting = true;
    const gone = new Promise((resolve) => { this.onGone = resolve; });
    sock.close();
    await gone;
    this.reconnecting = false;
    this.closed = false;
    await this.attach();
  }

  // Resolves when the bus has handled this device's last start-up frame: the
  // join of a learner, the registration of a controller's own address.
  waitForBus() {
    const bus = this.opts.bus;
    let cancel;
    const promise = new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        bus.tokenWatchers.delete(this.token);
        reject(new Error(`device ${this.name} not registered in time`));
      }, CONNECT_TIMEOUT_MS);
      cancel = () => {
        clearTimeout(timer);
        bus.tokenWatchers.delete(this.token);
        resolve();
      };
      bus.tokenWatchers.set(this.token, (client, frame) => {
        const done = this.mode === 'learner'
          ? frame.type === 'publish' && frame.body && frame.body.from === this.token && frame.body.type === 'join'
          : frame.type === 'register' && frame.address === this.ownAddress;
        if (done)
          cancel();
      });
    });
    return { promise, cancel };
  }

  connect() {
    return new Promise((resolve, reject) => {
      const options = { transports: [this.transport], timeout: CONNECT_TIMEOUT_MS };
      if (this.opts.ca)
        options.transportOptions = { websocket: { tls: { ca: this.opts.ca } } };
      const sock = new SockJS(this.opts.urls.collab + '/eventbus', null, options);
      this.sock = sock;
      let opened = false;
      sock.onopen = () => {
        opened = true;
        this.opts.counters.deviceConnections++;
        resolve();
      };
      sock.onmessage = (e) => this.onFrame(e.data);
      sock.onclose = (e) => {
        this.cancelPending();
        const wasClosed = this.closed;
        this.closed = true;
        if (!opened)
          reject(new Error(`device ${this.name} could not connect over ${this.transport}: ${e.code} ${e.reason}`));
        else if (this.reconnecting)
          this.onGone();
        else if (!wasClosed)
          this.onLeft(this);
      };
    });
  }

  sendFrame(frame) {
    if (!this.sock || this.closed)
      return false;
    this.sock.send(typeof frame === 'string' ? frame : JSON.stringify(frame));
    return true;
  }

  // Publishes `type` with `data` (a JSON value) compressed in this device's shape.
  publish(type, data, address, shape) {
    const body = { from: this.token, type, data: payload.encode(JSON.stringify(data), shape || this.shape) };
    return this.sendFrame({ type: 'publish', address: address || this.presenterAddress, body });
  }

  onFrame(text) {
    let frame;
    try {
      frame = JSON.parse(text);
    } catch (e) {
      frame = null;
    }
    const body = frame && typeof frame === 'object' && frame.body && typeof frame.body === 'object' ? frame.body : {};
    const decoded = payload.decodeValue(body.data);
    const record = {
      address: frame ? frame.address : undefined,
      type: body.type === undefined ? null : body.type,
      from: body.from === undefined ? null : body.from,
      data: decoded === undefined ? (body.data === undefined ? null : body.data) : decoded,
      decoded: decoded !== undefined,
      raw: text,
      time: Date.now(),
    };
    if (body.action !== undefined)
      record.action = body.action;
    this.records.push(record);
    if (this.mode === 'learner' && typeof body.type === 'string')
      this.react(body.type, decoded, record.address);
  }

  react(type, data, address) {
    switch (type) {
    case 'questionStart':
      if (data && typeof data === 'object')
        this.answerQuestion(data);
      break;
    case 'poll':
      if (data && typeof data === 'object')
        this.answerPoll(data);
      break;
    case 'pause':
      this.paused = true;
      break;
    case 'resume':
      this.paused = false;
      this.flushHeld();
      break;
    case 'pollStop':
      this.cancelPending('poll');
      break;
    case 'assessmentStart':
      this.startAssessment(data && typeof data === 'object' ? data : {});
      break;
    case 'assessmentStop':
      this.assessment = null;
      this.cancelPending('assessment');
      break;
    case 'disconnect':
      if (address === this.ownAddress || address === this.sessionToken)
        this.leave(false);
      break;
    default:
      break;
    }
  }

  // Sends `fire` after the answer delay, unless cancelled; held while paused.
  schedule(kind, fire) {
    const entry = { kind, fire };
    entry.timer = setTimeout(() => {
      this.pending.delete(entry);
      if (this.paused)
        this.held.push(entry);
      else
        fire();
    }, randomBetween(this.answerDelay[0], this.answerDelay[1]));
    this.pending.add(entry);
  }

  flushHeld() {
    const held = this.held;
    this.held = [];
    for (const e of held)
      e.fire();
  }

  cancelPending(kind) {
    for (const e of Array.from(this.pending)) {
      if (!kind || e.kind === kind) {
        clearTimeout(e.timer);
        this.pending.delete(e);
      }
    }
    this.held = kind ? this.held.filter((e) => e.kind !== kind) : [];
  }

  answerQuestion(q) {
    const received = Date.now();
    const inAssessment = q.questionSetMode === 'Assessment' && this.assessment;
    const kind = inAssessment ? 'assessment' : 'poll';
    this.schedule(kind, () => {
      const response = { questionId: q.id === undefined ? '' : q.id, answer: '', optionAnswers: [], responseTime: Date.now() - received };
      const options = Array.isArray(q.activityOptions) ? q.activityOptions.filter((o) => o && o.id !== undefined) : [];
      const input = INPUT_ANSWERS[q.type];
      if (options.length && !input) {
        let chosen = inAssessment ? this.assessmentChoice(q, options) : null;
        if (!chosen && q.type === 'sort')
          chosen = options.slice().sort(() => Math.random() - 0.5);
        else if (!chosen && q.type === 'multiple')
          chosen = options.slice().sort(() => Math.random() - 0.5)
            .slice(0, Math.max(1, Math.min(options.length, Number(q.numberOfCorrectOptions) || 1)));
        else if (!chosen)
          chosen = [pickRandom(options)];
        response.optionAnswers = chosen.map((o) => ({ activityOptionId: String(o.id) }));
        if (this.fillText) {
          // The chosen options' labels ("TRUE"), else a text of other ids' letters ("BAD" beside "C").
          const rest = options.filter((o) => !chosen.includes(o));
          response.answer = chosen.every((o) => o.optionText) ? chosen.map((o) => o.optionText).join(' ')
            : (rest.length ? rest : options).map((o) => String(o.id)).reverse().join('');
        }
      } else {
        response.answer = (input || INPUT_ANSWERS.text)(q);
      }
      this.publish('questionResponse', response);
      this.opts.counters.answers++;
      if (inAssessment)
        this.requestNextQuestion();
    });
  }

  // An assessment question's answer, right at the device's rate: the correct
  // options (a sort question's in their order), or a wrong one. Null for a
  // question without correct options (answered as a poll is).
  assessmentChoice(q, options) {
    const correct = q.feedBack && Array.isArray(q.feedBack.correctOptions) ? q.feedBack.correctOptions.map(String) : [];
    if (!correct.length)
      return null;
    const byId = (id) => options.find((o) => String(o.id) === id);
    if (Math.random() < this.correctRate)
      return correct.map(byId).filter(Boolean);
    const wrong = options.filter((o) => !correct.includes(String(o.id)));
    if (q.type === 'sort' && correct.length > 1)
      return correct.slice().reverse().map(byId).filter(Boolean);
    return wrong.length ? [pickRandom(wrong)] : [];
  }

  answerPoll(p) {
    const received = Date.now();
    this.schedule('poll', () => {
      const options = p.metadata && Array.isArray(p.metadata.options) ? p.metadata.options : [];
      const input = INPUT_ANSWERS[p.type];
      const blob = input || !options.length ? { input: (input || INPUT_ANSWERS.text)(p) }
        : { pick: [String(pickRandom(options))] };
      this.publish('pollResponse', { pollId: p.id === undefined ? '' : String(p.id), responseTime: Date.now() - received, blob });
      this.opts.counters.answers++;
    });
  }

  // A new assessment starts unpaused, whatever the activity before it left.
  startAssessment(options) {
    this.paused = false;
    this.held = this.held.filter((e) => e.kind !== 'poll');
    const count = Math.max(0, Number(options.questionCount) || 0);
    const first = Number(options.startingQuestionNumber) > 0 ? Number(options.startingQuestionNumber) : 1;
    this.cancelPending('assessment');
    this.assessment = { token: options.assessmentToken, next: first, last: first + count - 1 };
    this.requestNextQuestion();
  }

  requestNextQuestion() {
    const a = this.assessment;
    if (!a || a.next > a.last)
      return;
    this.publish('questionGet', { questionNumber: a.next++ });
  }

  // Leaves the session: clean closes the connection; abrupt drops it without
  // any closing handshake.
  leave(abrupt) {
    if (this.closed || !this.sock)
      return;
    this.cancelPending();
    const sock = this.sock;
    if (abrupt) {
      const t = sock._transport;
      const stream = t && t.ws && t.ws._stream;
      if (stream)
        stream.destroy();
      else if (t)
        t.close();
      this.closed = true;
      this.onLeft(this);
    } else {
      sock.close();
    }
  }
}

module.exports = { Device, TRANSPORTS };
