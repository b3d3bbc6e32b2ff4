'use strict';
// The control interface below "/control": lets a test add and remove
// devices, make them send, read what they received, read counters and set
// the REST switches.

const express = require('express');
const { TRANSPORTS } = require('./device');
const payload = require('./payload');

class HttpError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

function need(cond, message, status = 400) {
  if (!cond)
    throw new HttpError(status, message);
}

function controlRouter(app) {
  const r = express.Router();
  r.use(express.json({ limit: '64mb', strict: false }));
  const route = (method, path, fn) => r[method](path, async (req, res) => {
    try {
      const body = req.body && typeof req.body === 'object' ? req.body : {};
      res.json(await fn(req, body));
    } catch (e) {
      const status = e instanceof HttpError ? e.status : 500;
      if (status === 500)
        app.log('control ' + path + ' failed: ' + (e && e.stack));
      res.status(status).json({ error: e && e.message ? e.message : String(e) });
    }
  });

  route('get', '/info', () => Object.assign({}, app.readyInfo(), { switches: app.switches.values }));

  route('post', '/switches', (req, body) => {
    const err = app.switches.set(body);
    need(!err, err);
    return app.switches.values;
  });

  route('post', '/reset', () => {
    app.switches.reset();
    app.resetCounters();
    app.clearRecords();
    return { ok: true, switches: app.switches.values };
  });

  route('post', '/learners', async (req, body) => {
    const s = app.service.sessionByCode(body.sessionCode);
    need(s, 'no session with code ' + body.sessionCode, 404);
    need(s.started && !s.stopped, 'session ' + body.sessionCode + ' is not running', 409);
    const count = body.count === undefined ? 1 : body.count;
    need(Number.isInteger(count) && count >= 0 && count <= 5000, 'count must be an integer 0..5000');
    need(body.transport === undefined || TRANSPORTS.includes(body.transport), 'unknown transport');
    need(body.shape === undefined || [...payload.SHAPES, 'random'].includes(body.shape), 'unknown shape');
    need(body.answerDelay === undefined || (Array.isArray(body.answerDelay) && body.answerDelay.length === 2 &&
      body.answerDelay.every((v) => Number.isFinite(v) && v >= 0) && body.answerDelay[0] <= body.answerDelay[1]),
    'answerDelay must be [min, max] in ms');
    need(body.names === undefined || (Array.isArray(body.names) && body.names.every((n) => typeof n === 'string')),
      'names must be a list of texts');
    need(body.fillText === undefined || typeof body.fillText === 'boolean', 'fillText must be true or false');
    need(body.correctRate === undefined || (Number.isFinite(body.correctRate) && body.correctRate >= 0 &&
      body.correctRate <= 1), 'correctRate must be a number from 0 to 1');
    const devices = await app.addLearners(s, {
      count, transport: body.transport, shape: body.shape, answerDelay: body.answerDelay,
      names: body.names, deviceType: typeof body.deviceType === 'string' ? body.deviceType : undefined,
      fillText: body.fillText, correctRate: body.correctRate,
    });
    return { learners: devices.map((d) => ({ token: d.token, name: d.name, deviceType: d.deviceType, transport: d.transport })) };
  });

  route('post', '/learners/leave', (req, body) => {
    const d = app.devices.get(body.token);
    need(d && d.mode === 'learner', 'no learner device with token ' + body.token, 404);
    d.leave(!!body.abrupt);
    return { ok: true };
  });

  route('post', '/learners/reconnect', async (req, body) => {
    const d = app.devices.get(body.token);
    need(d && d.mode === 'learner' && !d.closed, 'no connected learner device with token ' + body.token, 404);
    await d.reconnect();
    return { ok: true };
  });

  route('post', '/controller', async (req, body) => {
    const s = app.service.sessionByCode(body.sessionCode);
    need(s, 'no session with code ' + body.sessionCode, 404);
    need(s.started && !s.stopped, 'session ' + body.sessionCode + ' is not running', 409);
    need(body.transport === undefined || TRANSPORTS.includes(body.transport), 'unknown transport');
    const d = await app.addController(s, { transport: body.transport, shape: body.shape });
    return { token: d.token };
  });

  const findController = (body) => {
    const list = Array.from(app.devices.values()).filter((d) => d.mode === 'controller' && !d.closed &&
      (body.sessionCode === undefined || d.opts.sessionCode === String(body.sessionCode)) &&
      (body.token === undefined || d.token === body.token));
    need(list.length, 'no connected controller', 404);
    return list[list.length - 1];
  };

  route('post', '/controller/send', (req, body) => {
    need(typeof body.type === 'string' && body.type, 'type must be a text');
    need(body.shape === undefined || [...payload.SHAPES, 'random'].includes(body.shape), 'unknown shape');
    const d = findController(body);
    d.publish(body.type, body.data === undefined ? '' : body.data, undefined, body.shape || 'base64');
    return { ok: true, token: d.token };
  });

  route('post', '/controller/leave', (req, body) => {
    findController(body).leave(!!body.abrupt);
    return { ok: true };
  });

  route('post', '/raw', (req, body) => {
    need(typeof body.frame === 'string', 'frame must be a text');
    const d = app.devices.get(body.token);
    need(d && !d.closed, 'no connected device with token ' + body.token, 404);
    d.sendFrame(body.frame);
    return { ok: true };
  });

  route('post', '/presenter/drop', (req, body) => {
    need(typeof body.sessionToken === 'string' && body.sessionToken, 'sessionToken must be a text');
    return { dropped: app.bus.dropPresenters(body.sessionToken) };
  });

  route('post', '/device-tokens/revoke', (req, body) => {
    need(typeof body.token === 'string' || typeof body.userId === 'string', 'give token or userId (a text)');
    const revoked = app.service.revokeDeviceTokens(body);
    need(revoked > 0, 'no such device token', 404);
    return { revoked };
  });

  route('get', '/registrations', (req) => ({ count: app.bus.registrations(String(req.query.address)) }));

  route('get', '/records', (req) => {
    const d = app.devices.get(String(req.query.token));
    need(d, 'no device with token ' + req.query.token, 404);
    return { token: d.token, connected: !d.closed, records: d.records };
  });

  route('get', '/counters', () => app.counters);
  route('post', '/counters/reset', () => {
    app.resetCounters();
    return app.counters;
  });

  route('get', '/sessions/:code', (req) => {
    const info = app.service.sessionInfo(req.params.code);
    need(info, 'no session with code ' + req.params.code, 404);
    return info;
  });

  route('get', '/uploads/:id', (req) => {
    const up = app.service.uploads.get(req.params.id);
    need(up, 'no upload ' + req.params.id, 404);
    return { id: up.id, fileName: up.fileName, partName: up.partName, size: up.data.length,
      fields: up.fields, fileHeaders: up.fileHeaders };
  });

  r.use((req, res) => res.status(404).json({ error: 'unknown control path ' + req.method + ' ' + req.path }));
  // Bad JSON in a control request.
  // eslint-disable-next-line no-unused-vars
  r.use((err, req, res, next) => res.status(400).json({ error: 'bad request: ' + err.message }));
  return r;
}

module.exports = { controlRouter };
