'use strict';
// The classroom service state (accounts, sign-in sessions, classroom sessions,
// resources) and its REST interface below "/quorvane".

const crypto = require('crypto');
const express = require('express');
const { parseMultipart } = require('./multipart');

const COOKIE = 'QSESSION';
const DEVICE_HEADER = 'x-veltro-sim-device';

function randomHex(bytes) {
  return crypto.randomBytes(bytes).toString('hex');
}

// Paths that answer without a signed-in user.
const OPEN_PATHS = new Set([
  '/quorvane', '/quorvane/login/submit', '/quorvane/login/logout', '/quorvane/login/user',
  '/quorvane/register/oauth/submit', '/quorvane/classroom/session/join',
  '/quorvane/resource/downloadResourceFile',
]);

class Service {
  constructor(opts) {
    this.transports = opts.transports;
    this.collabUrl = () => opts.urls().collab;
    this.counters = opts.counters;
    this.log = opts.log || (() => {});
    this.users = new Map([
      ['teacher', { password: 'veltro', loginId: 'teacher' }],
      ['teacher2', { password: 'veltro2', loginId: 'teacher2' }],
    ]);
    // token -> {userId, deviceId (null: any device, the seeded token only)}
    this.deviceTokens = new Map([['device-token-teacher', { userId: 'teacher', deviceId: null }]]);
    // OAuth providers: whether an account must register before its first sign-in.
    this.oauthProviders = new Map([['brightid', { mustRegister: true }], ['schoolsso', { mustRegister: false }]]);
    this.oauthRegistered = new Set();
    this.pendingRegistrations = new Map(); // registrationToken -> account key
    this.signIns = new Map(); // cookie value -> userId
    this.sessions = new Map(); // code -> session
    this.sessionsByToken = new Map();
    this.uploads = new Map();
    this.nextUpload = 1;
    this.onSessionStarted = () => {};
    this.onSessionStopped = () => {};
  }

  sessionByCode(code) {
    return this.sessions.get(String(code));
  }

  sessionByToken(token) {
    return this.sessionsByToken.get(String(token));
  }

  // A device whose connection ended no longer counts as a member of its session.
  memberDeparted(sessionToken, userToken) {
    const s = this.sessionByToken(sessionToken);
    if (!s)
      return;
    const m = s.members.find((x) => x.userToken === userToken && x.mode !== 'presenter');
    if (m)
      m.departed = true;
  }

  newSessionCode() {
    for (;;) {
      const code = String(100000 + crypto.randomInt(900000));
      if (!this.sessions.has(code))
        return code;
    }
  }

  // The join of a device or presenter; shared by the REST path and the
  // simulated devices. Returns {status, body}.
  join(body) {
    const s = this.sessionByCode(body.sessionCode);
    if (!s)
      return fail(404, 'error.session.notFound');
    if (!s.started)
      return fail(409, 'error.session.notStarted');
    if (s.stopped)
      return fail(409, 'error.session.stopped');
    const mode = body.mode === undefined ? 'learner' : String(body.mode);
    if (!['learner', 'presenter', 'controller'].includes(mode))
      return fail(400, 'error.join.badMode');
    const member = {
      mode,
      userToken: 'u-' + randomHex(8),
      userName: body.userName === undefined ? '' : String(body.userName),
      deviceType: body.deviceType === undefined ? '' : String(body.deviceType),
      deviceName: body.deviceName === undefined ? '' : String(body.deviceName),
    };
    s.members.push(member);
    return ok({ userToken: member.userToken, sessionToken: s.token });
  }

  sessionInfo(code) {
    const s = this.sessionByCode(code);
    if (!s)
      return null;
    return {
      sessionCode: s.code, sessionToken: s.token, owner: s.owner, started: s.started, stopped: s.stopped,
      serverUrl: s.serverUrl, version: s.version,
      learners: s.members.map((m) => ({ userToken: m.userToken, userName: m.userName, deviceType: m.deviceType,
        deviceName: m.deviceName, mode: m.mode, departed: !!m.departed })),
    };
  }

  // express router for "/quorvane"; `switches` is applied before the handlers.
  router(switches) {
    const r = express.Router();
    r.use(express.raw({ type: () => true, limit: '256mb' }));
    r.use((req, res, next) => {
      this.counters.requests++;
      if (req.get(DEVICE_HEADER) !== '1' && switches.intercept(req, res))
        return;
      next();
    });
    r.all('/resource/downloadResourceFile', (req, res) => {
      if (req.method !== 'GET' && req.method !== 'POST')
        return send(res, switches, fail(405, 'error.methodNotAllowed'));
      const up = this.uploads.get(String(req.query.resourceId));
      if (!up)
        return send(res, switches, fail(404, 'error.resource.notFound'));
      res.status(200).set('Content-Type', 'application/octet-stream')
        .set('Content-Disposition', 'attachment; filename="' + up.fileName.replace(/["\\\r\n]/g, '_') + '"')
        .send(up.data);
    });
    r.all('*', (req, res) => {
      const path = req.baseUrl + (req.path === '/' ? '' : req.path);
      if (req.method !== 'POST')
        return send(res, switches, fail(405, 'error.methodNotAllowed'));
      const handler = findHandler(path);
      if (!handler)
        return send(res, switches, fail(404, 'error.notFound'));
      const userId = this.signIns.get(cookieOf(req));
      if (!userId && !OPEN_PATHS.has(path) && !OAUTH_PATH.test(path))
        return send(res, switches, fail(401, 'error.notSignedIn'));
      let body = {};
      if (path !== '/quorvane/resource/uploadResourceFile' && Buffer.isBuffer(req.body) && req.body.length) {
        try {
          body = JSON.parse(req.body.toString('utf8'));
        } catch (e) {
          return send(res, switches, fail(400, 'error.badRequest'));
        }
        if (!body || typeof body !== 'object' || Array.isArray(body))
          return send(res, switches, fail(400, 'error.badRequest'));
      }
      let result;
      try {
        result = handler.call(this, { req, res, body, userId, path });
      } catch (e) {
        this.log('handler failed: ' + (e && e.stack));
        result = fail(500, 'error.internal');
      }
      send(res, switches, result);
    });
    return r;
  }

  signIn(res, userId) {
    const id = randomHex(16);
    this.signIns.set(id, userId);
    res.append('Set-Cookie', `${COOKIE}=${id}; Path=/; HttpOnly`);
  }

  // An issued token signs in only that user from that device (an empty device id included).
  issueDeviceToken(userId, deviceId) {
    const token = 'dat-' + randomHex(12);
    this.deviceTokens.set(token, { userId, deviceId: str(deviceId) });
    return token;
  }

  // Withdraws device tokens: the one given, or every token of a user. Returns how many.
  revokeDeviceTokens({ token, userId }) {
    let n = 0;
    for (const [t, owner] of this.deviceTokens) {
      if (t === token || (userId !== undefined && owner.userId === userId)) {
        this.deviceTokens.delete(t);
        n++;
      }
    }
    return n;
  }
}

function ok(data, infoKeys) {
  const body = {};
  if (infoKeys)
    body.infoMsgKeys = infoKeys;
  // "data" last: a client may cut the data member's text out of the answer.
  body.data = data;
  return { status: 200, body };
}

function fail(status, key) {
  return { status, body: { errorMsgKeys: [key], data: null } };
}

function cookieOf(req) {
  const header = req.get('cookie') || '';
  for (const part of header.split(';')) {
    const eq = part.indexOf('=');
    if (eq > 0 && part.slice(0, eq).trim() === COOKIE)
      return part.slice(eq + 1).trim();
  }
  return undefined;
}

function send(res, switches, result) {
  if (!result || result.handled)
    return;
  switches.sendJson(res, result.status, result.body);
}

const str = (v) => (v === undefined || v === null ? '' : String(v));

Service.prototype.handlers = {
  '/quorvane'() {
    return ok({ name: 'quorvane', version: '3.0.0' }, ['server.ready']);
  },

  '/quorvane/login/submit'({ body, res }) {
    const userId = str(body.userId);
    const user = this.users.get(userId);
    if (!user)
      return fail(401, 'error.login.invalidCredentials');
    if (body.password !== undefined) {
      if (str(body.password) !== user.password)
        return fail(401, 'error.login.invalidCredentials');
    } else if (body.deviceAccessToken !== undefined) {
      const t = this.deviceTokens.get(str(body.deviceAccessToken));
      if (!t || t.userId !== userId || (t.deviceId !== null && t.deviceId !== str(body.deviceId)))
        return fail(401, 'error.login.invalidDeviceToken');
    } else {
      return fail(401, 'error.login.invalidCredentials');
    }
    this.signIn(res, userId);
    const data = { userLoginId: user.loginId };
    // A password sign-in naming a device also hands out a device access token.
    if (body.password !== undefined && body.deviceId !== undefined)
      data.deviceAccessToken = this.issueDeviceToken(userId, body.deviceId);
    return ok(data, ['login.success']);
  },

  '/quorvane/login/oauth/:provider/callback'({ body, res, provider }) {
    const p = this.oauthProviders.get(provider);
    if (!p)
      return fail(404, 'error.oauth.unknownProvider');
    const code = str(body.code);
    if (!code || code.startsWith('invalid'))
      return fail(401, 'error.oauth.invalidCode');
    const account = provider + ':' + code;
    const loginId = provider + '-' + code;
    if (p.mustRegister && !this.oauthRegistered.has(account)) {
      const registrationToken = 'reg-' + randomHex(8);
      this.pendingRegistrations.set(registrationToken, account);
      return ok({ provider, firstName: 'Alex', lastName: 'Rivera', email: code + '@example.org',
        registrationToken }, ['login.success.registration.required']);
    }
    if (!this.users.has(loginId))
      this.users.set(loginId, { password: null, loginId });
    this.signIn(res, loginId);
    const data = { userLoginId: loginId };
    if (body.deviceId !== undefined)
      data.deviceAccessToken = this.issueDeviceToken(loginId, body.deviceId);
    return ok(data, ['login.success']);
  },

  '/quorvane/register/oauth/submit'({ body, res }) {
    const account = this.pendingRegistrations.get(str(body.registrationToken));
    if (!account)
      return fail(400, 'error.registration.invalid');
    this.pendingRegistrations.delete(str(body.registrationToken));
    this.oauthRegistered.add(account);
    const loginId = account.replace(':', '-');
    this.users.set(loginId, { password: null, loginId });
    this.signIn(res, loginId);
    return ok({ userLoginId: loginId }, ['registration.success']);
  },

  '/quorvane/login/logout'({ req, res }) {
    this.signIns.delete(cookieOf(req));
    res.append('Set-Cookie', `${COOKIE}=; Path=/; Max-Age=0`);
    return ok({}, ['logout.success']);
  },

  '/quorvane/login/keepSessionAlive'() {
    return ok({}, ['session.alive']);
  },

  // Answers an empty login id (not an error) when nobody is signed in, so a
  // client learns it must sign in again.
  '/quorvane/login/user'({ userId }) {
    return ok({ userLoginId: userId ? this.users.get(userId).loginId : '' });
  },

  '/quorvane/session/create'({ userId }) {
    const code = this.newSessionCode();
    this.sessions.set(code, { code, owner: userId, token: null, started: false, stopped: false, members: [] });
    return ok({ sessionCode: code });
  },

  '/quorvane/session/getcollabserverurl'() {
    return ok({ url: this.collabUrl() });
  },

  '/quorvane/config/findTenantFeatureDetails'() {
    return ok({ sockJSProtocols: this.transports.slice() });
  },

  '/quorvane/session/start'({ body, userId }) {
    const s = this.sessionByCode(body.sessionCode);
    if (!s)
      return fail(404, 'error.session.notFound');
    if (s.owner !== userId)
      return fail(403, 'error.session.notOwner');
    if (s.stopped)
      return fail(409, 'error.session.stopped');
    if (!s.started) {
      s.started = true;
      s.token = 's-' + randomHex(10);
      s.serverUrl = str(body.serverUrl);
      s.version = str(body.version);
      this.sessionsByToken.set(s.token, s);
      setImmediate(() => this.onSessionStarted(s));
    }
    return ok({ sessionToken: s.token });
  },

  '/quorvane/classroom/session/join'({ body }) {
    return this.join(body);
  },

  '/quorvane/session/getusers'({ body, userId }) {
    const s = this.sessionByToken(body.sessionToken);
    if (!s)
      return fail(404, 'error.session.notFound');
    if (s.owner !== userId)
      return fail(403, 'error.session.notOwner');
    return ok({ users: s.members.filter((m) => !m.departed)
      .map((m) => ({ mode: m.mode, userToken: m.userToken, userName: m.userName, deviceType: m.deviceType })) });
  },

  '/quorvane/session/stop'({ body, userId }) {
    const s = this.sessionByToken(body.sessionToken);
    if (!s)
      return fail(404, 'error.session.notFound');
    if (s.owner !== userId)
      return fail(403, 'error.session.notOwner');
    if (!s.stopped) {
      s.stopped = true;
      setImmediate(() => this.onSessionStopped(s));
    }
    return ok({});
  },

  '/quorvane/resource/uploadResourceFile'({ req }) {
    let parts;
    try {
      parts = parseMultipart(Buffer.isBuffer(req.body) ? req.body : Buffer.alloc(0), req.get('content-type'));
    } catch (e) {
      return fail(400, 'error.upload.malformed');
    }
    const file = parts.files[0];
    if (!file)
      return fail(400, 'error.upload.noFile');
    const id = String(this.nextUpload++);
    this.uploads.set(id, { id, fileName: file.filename, partName: file.name, data: file.data,
      fileHeaders: file.headers, fields: parts.fields });
    return ok({ id, fileName: file.filename, size: file.data.length,
      downloadPath: '/quorvane/resource/downloadResourceFile?resourceId=' + id });
  },
};

const OAUTH_PATH = /^\/quorvane\/login\/oauth\/([^/]+)\/callback$/;

// Returns the handler of `path` (with the provider of an OAuth callback bound).
function findHandler(path) {
  const m = OAUTH_PATH.exec(path);
  if (m) {
    const fn = Service.prototype.handlers['/quorvane/login/oauth/:provider/callback'];
    let provider;
    try {
      provider = decodeURIComponent(m[1]);
    } catch (e) {
      provider = m[1];
    }
    return function (ctx) { return fn.call(this, { ...ctx, provider }); };
  }
  return Object.prototype.hasOwnProperty.call(Service.prototype.handlers, path) && !path.includes(':')
    ? Service.prototype.handlers[path] : null;
}

module.exports = { Service, COOKIE, DEVICE_HEADER, randomHex };
