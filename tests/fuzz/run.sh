#!/usr/bin/env bash
# Runs every decoder fuzz target for a while from small seed corpora.
#   tests/fuzz/run.sh <fuzz build dir> [seconds per target, default 60]
# Build dir: CC=clang CXX=clang++ cmake -S . -B <dir> -DVELTRO_BUILD_FUZZ=ON -DVELTRO_BUILD_APPS=OFF
#            cmake --build <dir> --target fuzz_lzmadecompress64 fuzz_lzmadecompresslist \
#                  fuzz_lzmadecompresstext fuzz_guncompress
set -euo pipefail
build=$1 secs=${2:-60}
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$build/fuzz-work
mkdir -p "$work"/{seed64,seedlist,seedtext,seedgz,corpus64,corpuslist,corpustext,corpusgz,artifacts}

# Seeds: payloads of the device encoder and of xz, an empty and a bracketed list.
node -e '
const L = require(process.argv[1]); const fs = require("fs"); const d = process.argv[2];
["abc", "", "Grüße \u4e16\u754c \ud83d\ude00", "{\"type\":\"poll\",\"data\":[1,2,3]}".repeat(20)].forEach((t, i) => {
  const b = Buffer.from(L.compress(t, 1).map((x) => x & 255));
  fs.writeFileSync(`${d}/seed64/js${i}`, b.toString("base64"));
  fs.writeFileSync(`${d}/seedlist/js${i}`, Buffer.concat([Buffer.from([0]), b]));
  fs.writeFileSync(`${d}/seedtext/js${i}`, "[" + Array.from(b, (x) => (x > 127 ? x - 256 : x)).join(",") + "]");
});' "$root/sim/node_modules/lzma" "$work"
printf 'hello hello hello' | xz --format=lzma -0 -c | base64 -w0 > "$work/seed64/xz0"
printf 'hello hello hello' | gzip -c > "$work/seedgz/gz0"
printf 'hello hello hello' | python3 -c 'import sys,zlib; sys.stdout.buffer.write(zlib.compress(sys.stdin.buffer.read()))' > "$work/seedgz/zlib0"

run() {
  local target=$1 corpus=$2 seeds=$3
  echo "== $target (${secs}s)"
  "$build/tests/fuzz/$target" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=10 \
    -artifact_prefix="$work/artifacts/$target-" -print_final_stats=1 \
    "$work/$corpus" "$work/$seeds" 2>&1 | grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|stat::new_units_added)|ERROR|SUMMARY|Done ' || true
}
run fuzz_lzmadecompress64 corpus64 seed64
run fuzz_lzmadecompresslist corpuslist seedlist
run fuzz_lzmadecompresstext corpustext seedtext
run fuzz_guncompress corpusgz seedgz
ls "$work/artifacts"
