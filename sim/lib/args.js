'use strict';
// Command-line options of server.js.

// Kept free of heavy requires so that a bad command line fails fast.
const TRANSPORTS = ['websocket', 'xhr-streaming', 'xhr-polling'];
// The twelve commands a remote controller sends.
const REMOTE_COMMANDS = ['stopSession', 'requestLessonInfo', 'requestLesson', 'presenterActive', 'pause', 'resume',
  'lockAll', 'unlockAll', 'nextCard', 'previousCard', 'pushCurrentCard', 'addImageCard'];

const USAGE = `usage: node sim/server.js [--port N] [--host 127.0.0.1] [--learners N] [--tls]
       [--transports websocket,xhr-streaming,xhr-polling] [--answer-delay MIN,MAX]
       [--shape base64|list|text|random] [--gzip] [--basic-auth USER:PASSWORD]
       [--ignore-stdin] [--max-lifetime SECONDS] [--heartbeat MS] [--controller COMMAND,...]
`;

function intArg(name, v, min, max) {
  if (!/^\d+$/.test(v || '') || Number(v) < min || Number(v) > max)
    throw new Error(`${name} needs an integer from ${min} to ${max}, got ${v}`);
  return Number(v);
}

// Throws an Error with a reason on a bad command line.
function parseArgs(argv) {
  const o = { port: 0, host: '127.0.0.1', learners: 0, tls: false, transports: null,
    answerDelay: [200, 2000], shape: 'random', gzip: false, basicAuth: null, ignoreStdin: false, maxLifetime: 0, heartbeat: 25000 };
  for (let i = 0; i < argv.length; i++) {
    let a = argv[i];
    let value;
    const eq = a.indexOf('=');
    if (a.startsWith('--') && eq > 0) {
      value = a.slice(eq + 1);
      a = a.slice(0, eq);
    }
    const next = () => {
      if (value !== undefined)
        return value;
      if (i + 1 >= argv.length)
        throw new Error(a + ' needs a value');
      return argv[++i];
    };
    switch (a) {
    case '--port': o.port = intArg(a, next(), 0, 65535); break;
    case '--host': o.host = next(); break;
    case '--learners': o.learners = intArg(a, next(), 0, 5000); break;
    case '--tls': o.tls = true; break;
    case '--gzip': o.gzip = true; break;
    case '--ignore-stdin': o.ignoreStdin = true; break;
    case '--max-lifetime': o.maxLifetime = intArg(a, next(), 0, 7 * 24 * 3600); break;
    case '--heartbeat': o.heartbeat = intArg(a, next(), 50, 600000); break;
    case '--transports': {
      const list = next().split(',').map((s) => s.trim()).filter(Boolean);
      const bad = list.find((t) => !TRANSPORTS.includes(t));
      if (bad || !list.length)
        throw new Error('unknown transport: ' + (bad || '(none)'));
      o.transports = list;
      break;
    }
    case '--answer-delay': {
      const m = /^(\d+),(\d+)$/.exec(next());
      if (!m || Number(m[1]) > Number(m[2]))
        throw new Error('--answer-delay needs MIN,MAX in milliseconds');
      o.answerDelay = [Number(m[1]), Number(m[2])];
      break;
    }
    case '--shape': {
      const s = next();
      if (!['base64', 'list', 'text', 'random'].includes(s))
        throw new Error('unknown shape: ' + s);
      o.shape = s;
      break;
    }
    case '--basic-auth': {
      const v = next();
      const c = v.indexOf(':');
      if (c <= 0)
        throw new Error('--basic-auth needs USER:PASSWORD');
      o.basicAuth = { user: v.slice(0, c), password: v.slice(c + 1) };
      break;
    }
    case '--controller': {
      const list = next().split(',').map((c) => c.trim()).filter(Boolean);
      const bad = list.find((c) => !REMOTE_COMMANDS.includes(c));
      if (bad || !list.length)
        throw new Error('unknown remote command: ' + (bad || '(none)'));
      o.controller = list;
      break;
    }
    case '--help': case '-h': o.help = true; break;
    default:
      throw new Error('unknown option: ' + a);
    }
  }
  return o;
}

module.exports = { parseArgs, USAGE, REMOTE_COMMANDS };
