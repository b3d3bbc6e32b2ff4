#!/usr/bin/env bash
# Runs every fuzz target built in <fuzz build dir> for a while, each from its
# own corpus and small seed corpus (seed/<target>, when there is one).
#   tests/fuzz/run.sh <fuzz build dir> [seconds per target, default 60]
# Build dir: CC=clang CXX=clang++ cmake -S . -B <dir> -DVELTRO_BUILD_FUZZ=ON -DVELTRO_BUILD_APPS=OFF
#            cmake --build <dir> -j2
set -euo pipefail
build=$1 secs=${2:-60}
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$build/fuzz-work
seed=$work/seed
mkdir -p "$work/artifacts" "$seed"/{fuzz_lzmadecompress64,fuzz_lzmadecompresslist,fuzz_lzmadecompresstext,fuzz_guncompress,fuzz_sockjsframe,fuzz_httpresponseparser,fuzz_xhrrequest,fuzz_restanswers,fuzz_bytelist,fuzz_incoming}

# Codec seeds: payloads of the device encoder and of xz, an empty and a bracketed list.
node -e '
const L = require(process.argv[1]); const fs = require("fs"); const d = process.argv[2];
["abc", "", "Grüße \u4e16\u754c \ud83d\ude00", "{\"type\":\"poll\",\"data\":[1,2,3]}".repeat(20)].forEach((t, i) => {
  const b = Buffer.from(L.compress(t, 1).map((x) => x & 255));
  fs.writeFileSync(`${d}/fuzz_lzmadecompress64/js${i}`, b.toString("base64"));
  fs.writeFileSync(`${d}/fuzz_lzmadecompresslist/js${i}`, Buffer.concat([Buffer.from([0]), b]));
  fs.writeFileSync(`${d}/fuzz_lzmadecompresstext/js${i}`, "[" + Array.from(b, (x) => (x > 127 ? x - 256 : x)).join(",") + "]");
});' "$root/sim/node_modules/lzma" "$seed"
printf 'hello hello hello' | xz --format=lzma -0 -c | base64 -w0 > "$seed/fuzz_lzmadecompress64/xz0"
printf 'hello hello hello' | gzip -c > "$seed/fuzz_guncompress/gz0"
printf 'hello hello hello' | python3 -c 'import sys,zlib; sys.stdout.buffer.write(zlib.compress(sys.stdin.buffer.read()))' > "$seed/fuzz_guncompress/zlib0"

# Frames and HTTP responses as the collaboration server sends them.
printf 'o' > "$seed/fuzz_sockjsframe/open"
printf 'a["{\\"body\\":{\\"type\\":\\"join\\"}}","x"]' > "$seed/fuzz_sockjsframe/messages"
printf 'c[3000,"Go away!"]' > "$seed/fuzz_sockjsframe/close"
printf 'HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\no\n' > "$seed/fuzz_httpresponseparser/length"
printf 'HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\no\n\r\n4\r\na[]\n\r\n0\r\n\r\n' > "$seed/fuzz_httpresponseparser/chunked"
# Request heads: port (two bytes), flags, then path, host, cookies, content type separated by NUL bytes.
printf '\220\037\003/app/eventbus/119/abcdefgh/xhr\000127.0.0.1\000JSESSIONID=1; \000application/json' > "$seed/fuzz_xhrrequest/receive"

# Event-bus frames whose payload is a list of byte values.
printf '{"type":"rec","body":{"type":"join","from":"d","data":[93,0,-128,1.5,"7",true,null,[1],{"a":2}]}}' > "$seed/fuzz_bytelist/list"
printf '{"body":{"data":[1,2],"data":[3]},"body":{"from":"x","data":[-1e3,2E+2,0.5]}}' > "$seed/fuzz_bytelist/duplicates"

# Frames of the live connection as a transport hands them over: a learner's
# join whose payload is Base64 text, a list of signed byte values, and that
# list as a text; an answer, a departure, the open and the close frame.
node -e '
const L = require(process.argv[1]); const fs = require("fs"); const d = process.argv[2] + "/fuzz_incoming";
const bytes = (o) => L.compress(JSON.stringify(o), 1).map((x) => (x > 127 ? x - 256 : x));
const b64 = (o) => Buffer.from(bytes(o).map((x) => x & 255)).toString("base64");
const bus = (body) => JSON.stringify({type: "rec", address: "S1.presenter", body: body});
const frame = (...m) => "a" + JSON.stringify(m);
const user = {userName: "Ann", deviceType: "tablet"};
fs.writeFileSync(`${d}/join-base64`, frame(bus({type: "join", from: "dev-1", data: b64(user)})));
fs.writeFileSync(`${d}/join-bytelist`, frame(bus({type: "join", from: "dev-1", data: bytes(user)})));
fs.writeFileSync(`${d}/join-bytelist-text`, frame(bus({type: "join", from: "dev-1", data: JSON.stringify(bytes(user))})));
fs.writeFileSync(`${d}/answer`, frame(bus({type: "pollResponse", from: "dev-2",
  data: b64({pollId: "p1", responseTime: 1500, blob: {pick: ["A", "C"]}})}), bus({type: "pause", from: "ctl-1", data: ""})));
fs.writeFileSync(`${d}/unregister`, frame(bus({action: "unregister", client: {token: "dev-1", type: "user"}})));
fs.writeFileSync(`${d}/open`, "o");
fs.writeFileSync(`${d}/close`, "c[3000,\"Go away!\"]");' "$root/sim/node_modules/lzma" "$seed"

# REST answers; the first byte picks the handler (see fuzz_restanswers.cpp).
rest() { printf "$1" > "$seed/fuzz_restanswers/$2"; }
rest '\000{"infoMsgKeys":["success"],"data":{"userLoginId":"t"}}' signin
rest '\000{"infoMsgKeys":["login.success.registration.required"],"data":{"email":"a@b.c","registrationToken":"r"}}' registration
rest '\001{"data":{"deviceAccessToken":"dat-1"}}' devicetoken
rest '\010{"data":{"users":[{"mode":"learner","userToken":"u1","userName":"Ann","deviceType":"tab"},{"mode":"presenter"}]}}' learners
rest '\005{"data":{"sockJSProtocols":["websocket","xhr-polling"]}}' transports
rest '\014{"errorMsgKeys":["error.login.invalid"]}' errorkeys

export LSAN_OPTIONS=suppressions=$root/tests/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}
for exe in "$build"/tests/fuzz/fuzz_*; do
  [ -f "$exe" ] && [ -x "$exe" ] || continue
  target=$(basename "$exe")
  mkdir -p "$work/corpus/$target" "$seed/$target"
  echo "== $target (${secs}s)"
  "$exe" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=10 \
    -artifact_prefix="$work/artifacts/$target-" -print_final_stats=1 \
    "$work/corpus/$target" "$seed/$target" 2>&1 | grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|stat::new_units_added)|ERROR|SUMMARY|Done ' || true
done
ls "$work/artifacts"
