#!/usr/bin/env bash
# Builds the classroom benchmarks in Release and prints their tables.
#   bench/classroom/run.sh                       all transports, 10/100/1000 learners
#   LEARNERS="10 100" TRANSPORTS="websocket" bench/classroom/run.sh
#   BUILD_DIR (default build/bench), DISPATCH_SECONDS (default 2)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build/bench}
learners=${LEARNERS:-10 100 1000}
transports=${TRANSPORTS:-websocket xhr-streaming xhr-polling}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELTRO_BUILD_BENCH=ON -DVELTRO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 --target veltro-bench-classroom veltro-bench-dispatch >/dev/null
bin="$build/bench/classroom"

echo "| transport | learners | all joined (s) | startPoll -> last answer (ms) | last send -> its arrival (ms) | lost | duplicated | frames in | host CPU us/frame | host peak RSS MiB | remote nextCard (ms) | 3-question assessment, all learners (ms) |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
status=0
for t in $transports; do
  for n in $learners; do
    line=$("$bin/veltro-bench-classroom" --learners "$n" --transport "$t" --timeout 180 | tail -n 1) || status=1
    if [ -z "$line" ]; then
      echo "| $t | $n | failed | | | | | | | | | |"; status=1; continue
    fi
    printf '%s' "$line" | node -e '
      let s = ""; process.stdin.on("data", d => s += d).on("end", () => {
        const r = JSON.parse(s);
        console.log(`| ${r.transport} | ${r.learners} | ${r.joinSeconds} | ${r.pollToLastMs} | ${r.lastSendToArrivalMs} | ${r.lost} | ${r.duplicated} | ${r.frames} | ${r.cpuUsPerFrame} | ${r.peakRssMiB} | ${r.remoteMs} | ${r.assessmentMs} |`);
      });'
  done
done
echo
"$bin/veltro-bench-dispatch" --seconds "${DISPATCH_SECONDS:-2}" || status=1
exit $status
