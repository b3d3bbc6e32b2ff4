'use strict';
// Times the devices' JavaScript LZMA (mode 1) on the benchmark's inputs.
//   node lzmajs_bench.js <lzma package dir> <inputs.json>
// inputs: [{"name", "text", "payload": base64 of the payload to decompress}]
// prints: {"<name>": {"compressUs", "decompressUs", "size"}}
const fs = require('fs');
const LZMA = require(process.argv[2]);
const inputs = JSON.parse(fs.readFileSync(process.argv[3], 'utf8'));

// Median of per-call CPU times (user + system, µs) over batches lasting at
// least `minMs` of CPU each.
function timeUs(fn, minMs) {
  const samples = [];
  for (let batch = 0; batch < 5; ++batch) {
    let n = 0;
    const t0 = process.cpuUsage();
    let spent = 0;
    do {
      fn();
      ++n;
      const d = process.cpuUsage(t0);
      spent = d.user + d.system;
    } while (spent < minMs * 1000);
    samples.push(spent / n);
  }
  samples.sort((a, b) => a - b);
  return samples[2];
}

const result = {};
for (const input of inputs) {
  const signed = Array.from(Buffer.from(input.payload, 'base64'), (b) => (b > 127 ? b - 256 : b));
  // The devices must restore our payload (whatever match finder wrote it).
  if (LZMA.decompress(signed) !== input.text) {
    console.error(input.name + ': LZMA-JS did not restore our payload');
    process.exit(1);
  }
  let size = 0;
  const compressUs = timeUs(() => { size = LZMA.compress(input.text, 1).length; }, 100);
  const decompressUs = timeUs(() => LZMA.decompress(signed), 100);
  result[input.name] = { compressUs, decompressUs, size };
}
process.stdout.write(JSON.stringify(result));
