// Round trips and bursts over sockjs-client, as the devices run it under Node,
// on each of its transports (websocket, xhr-streaming, xhr-polling) against a
// SockJS echo URL: the peer our transports are measured against.
//   node peer_sockjs_client.js <sim dir> <echo url> <round trips> <warm-up> <burst> [transport]
// Prints one JSON line per transport and message size:
// {"name":"sockjs-client <transport>","size","median","p99","rate"}, then the
// same for a bare "/xhr_send" round trip (rate 0) when XHR is measured
// (times in microseconds, rate in messages per second).
'use strict';
const path = require('path');
const [simDir, url, rounds, warm, burst, only] =
  [process.argv[2], process.argv[3], +process.argv[4], +process.argv[5], +process.argv[6], process.argv[7]];
const SockJS = require(path.join(simDir, 'node_modules', 'sockjs-client'));

function measure(transport, size) {
  return new Promise((resolve, reject) => {
    const sock = new SockJS(url + '/eventbus', null, { transports: [transport] });
    const msg = 'x'.repeat(size);
    const times = [];
    let n = 0, t0 = 0n, phase = 'rtt', got = 0, burstStart = 0n;
    const next = () => { t0 = process.hrtime.bigint(); sock.send(msg); };
    sock.onopen = () => next();
    sock.onerror = (e) => reject(e);
    sock.onclose = (e) => { if (phase !== 'done') reject(new Error(transport + ' closed: ' + e.code + ' ' + e.reason)); };
    sock.onmessage = () => {
      if (phase === 'rtt') {
        const dt = Number(process.hrtime.bigint() - t0) / 1000;
        if (n >= warm) times.push(dt);
        n++;
        if (n < warm + rounds) return next();
        phase = 'burst';
        burstStart = process.hrtime.bigint();
        for (let i = 0; i < burst; i++) sock.send(msg);
        return;
      }
      if (++got === burst) {
        const secs = Number(process.hrtime.bigint() - burstStart) / 1e9;
        times.sort((a, b) => a - b);
        phase = 'done';
        sock.close();
        resolve({ name: 'sockjs-client ' + transport, size, median: times[Math.floor(times.length / 2)],
                  p99: times[Math.min(times.length - 1, Math.floor(times.length * 0.99))], rate: burst / secs });
      }
    };
  });
}

// Context for the XHR rows: the bare round trip of one "/xhr_send" post
// (keep-alive, Node's own HTTP client), which every XHR message pays.
function sendBaseline(size) {
  const http = require('http');
  const u = new URL(url);
  const agent = new http.Agent({ keepAlive: true, maxSockets: 1 });
  const base = u.pathname + '/eventbus/119/base' + Math.random().toString(36).slice(2, 6);
  const post = (p, body) => new Promise((resolve, reject) => {
    const r = http.request({ host: u.hostname, port: u.port, path: base + p, method: 'POST', agent,
                             headers: { 'Content-Type': 'application/json' } }, (res) => {
      res.resume();
      res.on('end', resolve);
    });
    r.on('error', reject);
    r.end(body);
  });
  return (async () => {
    await post('/xhr', '');
    const body = JSON.stringify(['x'.repeat(size)]);
    const times = [];
    for (let i = 0; i < warm + rounds; i++) {
      const t0 = process.hrtime.bigint();
      await post('/xhr_send', body);
      if (i >= warm) times.push(Number(process.hrtime.bigint() - t0) / 1000);
    }
    times.sort((a, b) => a - b);
    agent.destroy();
    return { name: 'node http /xhr_send only', size, median: times[Math.floor(times.length / 2)],
             p99: times[Math.min(times.length - 1, Math.floor(times.length * 0.99))], rate: 0 };
  })();
}

(async () => {
  const transports = ['websocket', 'xhr-streaming', 'xhr-polling'].filter((t) => !only || t === only);
  for (const size of [64, 4096]) {
    for (const t of transports) {
      try {
        console.log(JSON.stringify(await measure(t, size)));
      } catch (e) {
        console.error('sockjs-client ' + t + ' ' + size + ': ' + String(e && e.message || e));
      }
    }
  }
  if (transports.some((t) => t !== 'websocket')) {
    for (const size of [64, 4096])
      console.log(JSON.stringify(await sendBaseline(size)));
  }
  process.exit(0);
})().catch((e) => { console.error(String(e)); process.exit(1); });
