#!/usr/bin/env bash
# Starts or stops the shared stand-in service for a test run.
#   standin.sh start DIR   -> DIR/info.json holds the service's ready line
#   standin.sh stop DIR
set -u
cmd=$1; dir=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
case "$cmd" in
start)
  mkdir -p "$dir"; rm -f "$dir/info.json" "$dir/out.log"
  # The service stops by itself after an hour at most, so nothing outlives a run.
  node "$root/sim/server.js" --port 0 --ignore-stdin --max-lifetime 3600 \
    >"$dir/out.log" 2>"$dir/err.log" </dev/null &
  echo $! >"$dir/pid"
  for _ in $(seq 1 200); do
    line=$(head -n 1 "$dir/out.log" 2>/dev/null)
    if [ -n "$line" ] && printf '%s' "$line" | grep -q '"control"'; then
      printf '%s\n' "$line" >"$dir/info.json"; cat "$dir/info.json"; exit 0
    fi
    kill -0 "$(cat "$dir/pid")" 2>/dev/null || { echo "stand-in exited"; cat "$dir/err.log"; exit 1; }
    sleep 0.1
  done
  echo "stand-in did not become ready"; cat "$dir/err.log"; exit 1 ;;
stop)
  [ -f "$dir/pid" ] && kill "$(cat "$dir/pid")" 2>/dev/null
  rm -f "$dir/pid"; exit 0 ;;
esac
