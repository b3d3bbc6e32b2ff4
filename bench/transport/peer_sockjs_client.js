// Round trips over sockjs-client on WebSocket against a SockJS echo URL, the
// peer our transports are measured against.
//   node peer_sockjs_client.js <sim dir> <echo url> <round trips> <warm-up> <burst>
// Prints one JSON line per message size: {"size","median","p99","rate"}
// (times in microseconds, rate in messages per second).
'use strict';
const path = require('path');
const [simDir, url, rounds, warm, burst] = [process.argv[2], process.argv[3], +process.argv[4], +process.argv[5], +process.argv[6]];
const SockJS = require(path.join(simDir, 'node_modules', 'sockjs-client'));

function measure(size) {
  return new Promise((resolve, reject) => {
    const sock = new SockJS(url + '/eventbus', null, { transports: ['websocket'] });
    const msg = 'x'.repeat(size);
    const times = [];
    let n = 0, t0 = 0n, phase = 'rtt', got = 0, burstStart = 0n;
    const next = () => { t0 = process.hrtime.bigint(); sock.send(msg); };
    sock.onopen = () => next();
    sock.onerror = (e) => reject(e);
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
        sock.close();
        resolve({ size, median: times[Math.floor(times.length / 2)],
                  p99: times[Math.min(times.length - 1, Math.floor(times.length * 0.99))], rate: burst / secs });
      }
    };
  });
}

(async () => {
  for (const size of [64, 4096])
    console.log(JSON.stringify(await measure(size)));
  process.exit(0);
})().catch((e) => { console.error(String(e)); process.exit(1); });
