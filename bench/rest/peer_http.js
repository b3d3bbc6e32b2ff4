// The peer of bench_rest: Node's own HTTP client (one kept-alive connection)
// posting what PresenterClient posts, with the same headers and bodies, to the
// same stand-in.
//   node peer_http.js <server> <call> <rounds> <warm-up>
// <call> is one of bench_rest's row names. Signs in (untimed), then prints
// {"name","times":[microseconds per call]} for the rounds after the warm-up.
//   node peer_http.js <server> <call> <rounds> <warm-up> curl
// has curl make the upload instead: one invocation signs in and sends every
// round on one kept-alive connection, each transfer timed by curl itself.
'use strict';
const http = require('http');
const https = require('https');

const [server, call, rounds, warm] = [process.argv[2], process.argv[3], +process.argv[4], +process.argv[5]];
const u = new URL(server);
const lib = u.protocol === 'https:' ? https : http;
const agent = new lib.Agent({ keepAlive: true, maxSockets: 1 });
let cookie = '';

function post(path, body, contentType) {
  return new Promise((resolve, reject) => {
    const headers = { 'accept-encoding': 'identity', 'Content-Type': contentType || 'application/json; charset=UTF-8',
                      'Content-Length': Buffer.byteLength(body) };
    if (cookie)
      headers.Cookie = cookie;
    const r = lib.request({ host: u.hostname, port: u.port, path, method: 'POST', agent, headers,
                            rejectUnauthorized: false }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => {
        for (const c of res.headers['set-cookie'] || [])
          cookie = c.split(';')[0];
        resolve(JSON.parse(Buffer.concat(chunks).toString('utf8') || 'null'));
      });
    });
    r.on('error', reject);
    r.end(body);
  });
}

const login = JSON.stringify({ userId: 'teacher', password: 'veltro', sourceSystem: 'Nimbra' });
const boundary = '----boundary';
// Byte for byte the body PresenterClient::doUploadResource builds.
const value = (name, v, last) => `Content-Disposition: form-data; name=${name}\r\n`
  + `Content-Type: text/plain; charset=utf-8\r\n\r\n${v}\r\n--${boundary}${last ? '--' : ''}\r\n\r\n`;
const upload = Buffer.concat([
  Buffer.from(`--${boundary}\r\nContent-Disposition: form-data; name=files; filename="bench.bin"\r\n\r\n`),
  Buffer.alloc(1024 * 1024, 'v'),
  Buffer.from(`\r\n--${boundary}\r\n\r\n` + value('isTemporary', 'true', false)
              + value('clientProvidedGUID', 'false', true))]);
let code = '', token = '';

// name -> [before (untimed), call (timed), after (untimed)]
const calls = {
  'doLogin': [null, () => post('/quorvane/login/submit', login), null],
  'doGetUserName': [null, () => post('/quorvane/login/user', '{}'), null],
  'doUploadResource 1 MiB': [null, () => post('/quorvane/resource/uploadResourceFile', upload,
                                               'multipart/form-data; charset=UTF-8; boundary=' + boundary), null],
  'startWebsocket (4 requests)': [
    async () => { code = (await post('/quorvane/session/create', '{}')).data.sessionCode; },
    async () => {
      const url = (await post('/quorvane/session/getcollabserverurl', '{}')).data.url;
      await post('/quorvane/config/findTenantFeatureDetails', '{}');
      token = (await post('/quorvane/session/start', JSON.stringify(
        { sessionCode: code, serverUrl: url, sourceSystem: 'Nimbra', version: '3.0.0' }))).data.sessionToken;
      await post('/quorvane/classroom/session/join', JSON.stringify(
        { userName: 'SessionStarter', sessionCode: code, mode: 'presenter', deviceName: 'teacher_SessionStarter',
          deviceType: 'presenter' }));
    },
    async () => { await post('/quorvane/session/stop', JSON.stringify({ sessionToken: token })); }],
};

// The same headers and protocol as ours (HTTP/1.1; the stand-in's throw-away
// certificate is not checked, as above); "Expect:" keeps curl from asking for
// a 100 Continue (it does above 1 MiB), a round trip the others do not make.
function curlUpload() {
  const fs = require('fs');
  const os = require('os');
  const path = require('path');
  const { execFileSync } = require('child_process');
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'bench-rest-'));
  const file = path.join(dir, 'body');
  fs.writeFileSync(file, upload);
  const common = ['-s', '-k', '--http1.1', '-b', '', '-H', 'accept-encoding: identity'];
  const args = [...common, '-H', 'Content-Type: application/json; charset=UTF-8', '--data-binary', login,
    '-o', '/dev/null', server + '/quorvane/login/submit', '--next', ...common, '-H', 'Expect:',
    '-H', 'Content-Type: multipart/form-data; charset=UTF-8; boundary=' + boundary, '--data-binary', '@' + file,
    '-w', '%{http_code} %{time_total}\\n'];
  for (let i = 0; i < warm + rounds; i++)
    args.push('-o', '/dev/null', server + '/quorvane/resource/uploadResourceFile');
  let out;
  try {
    out = execFileSync('curl', args, { encoding: 'utf8', maxBuffer: 1 << 20 });
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
  const lines = out.trim().split('\n').map((l) => l.split(' '));
  if (lines.length !== warm + rounds || lines.some(([status]) => status !== '200'))
    throw new Error('curl upload failed: ' + out);
  return lines.slice(warm).map(([, seconds]) => Math.round(Number(seconds) * 1e6));
}

if (process.argv[6] === 'curl') {
  console.log(JSON.stringify({ name: call, times: curlUpload() }));
  process.exit(0);
}

(async () => {
  const [before, fn, after] = calls[call];
  await post('/quorvane/login/submit', login);
  const times = [];
  for (let i = 0; i < warm + rounds; i++) {
    if (before)
      await before();
    const t0 = process.hrtime.bigint();
    await fn();
    const dt = Number(process.hrtime.bigint() - t0) / 1000;
    if (after)
      await after();
    if (i >= warm)
      times.push(dt);
  }
  agent.destroy();
  console.log(JSON.stringify({ name: call, times }));
  process.exit(0);
})().catch((e) => { console.error(String(e && e.stack || e)); process.exit(1); });
