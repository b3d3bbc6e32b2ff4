#!/usr/bin/env bash
# Builds the live-connection soak in Release and prints one row per transport.
#   bench/soak/run.sh                                  30 learners, 10000 frames, 20 cuts
#   LEARNERS=10 FRAMES=2000 CUTS=5 TRANSPORTS=websocket bench/soak/run.sh
#   BUILD_DIR (default build/bench), RATE (frames/s, default 100), SEED (default 1)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build/bench}
transports=${TRANSPORTS:-websocket xhr-streaming xhr-polling}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELTRO_BUILD_BENCH=ON -DVELTRO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 --target veltro-bench-soak >/dev/null

echo "| transport | learners | frames | cuts (reconnected / ridden out) | received by every device | duplicated | device answers lost while down | cut -> connected() median / worst (ms) | held frames dropped | host peak RSS MiB |"
echo "|---|---|---|---|---|---|---|---|---|---|"
status=0
for t in $transports; do
  line=$("$build/bench/soak/veltro-bench-soak" --transport "$t" --learners "${LEARNERS:-30}" --frames "${FRAMES:-10000}" \
         --cuts "${CUTS:-20}" --rate "${RATE:-100}" --seed "${SEED:-1}" | tail -n 1) || status=1
  if [ -z "$line" ]; then echo "| $t | failed | | | | | | | | |"; status=1; continue; fi
  printf '%s' "$line" | node -e '
    let s = ""; process.stdin.on("data", d => s += d).on("end", () => {
      const r = JSON.parse(s);
      console.log(`| ${r.transport} | ${r.learners} | ${r.frames} | ${r.cuts} (${r.reconnections} / ${r.survived}) | ${r.receivedByAll} | ${r.duplicated} | ${r.answersLost} of ${r.answersSent} | ${r.recoveryMedianMs} / ${r.recoveryWorstMs} | ${r.heldDropped} | ${r.peakRssMiB} |`);
    });'
done
exit $status
