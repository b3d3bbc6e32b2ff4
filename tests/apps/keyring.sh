#!/usr/bin/env bash
# Runs a QtTest binary against real keyrings, each time in a private D-Bus
# session bus that activates nothing, with a throw-away HOME and XDG folders:
#   - its function noKeyring on a bus where no Secret Service answers
#     (VELTRO_TEST_KEYRING=none), once as a plain desktop and once as a KDE
#     desktop whose wallet is not running, where QtKeychain would keep secrets
#     in a plain file if it were allowed to;
#   - every other function with gnome-keyring-daemon on the bus, unlocked with
#     a test password (VELTRO_TEST_KEYRING=unlocked).
# Where dbus-run-session, gnome-keyring-daemon or secret-tool is missing, the
# binary runs as it is and its keyring tests skip, saying so (scripts/setup
# installs them).
#   keyring.sh TEST_BINARY
set -uo pipefail
test=$1
for tool in dbus-run-session gnome-keyring-daemon secret-tool; do
  command -v "$tool" >/dev/null || exec "$test"
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cat >"$tmp/bus.conf" <<'EOF'
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF

# session NAME VAR=VALUE... -- COMMAND...: a private bus and a fresh HOME (caches kept outside it, so that the
# test can read every file under HOME for secrets).
session() {
  local dir=$tmp/$1 vars=()
  shift
  while [ "$1" != -- ]; do vars+=("$1"); shift; done
  shift
  mkdir -p "$dir/home/.config" "$dir/home/.local/share" "$dir/home/run" "$dir/cache"
  chmod 700 "$dir/home/run"
  env HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config" XDG_DATA_HOME="$dir/home/.local/share" \
      XDG_RUNTIME_DIR="$dir/home/run" XDG_CACHE_HOME="$dir/cache" "${vars[@]}" \
      dbus-run-session --config-file="$tmp/bus.conf" -- "$@"
}

status=0
session plain VELTRO_TEST_KEYRING=none -- "$test" noKeyring || status=1
session wallet VELTRO_TEST_KEYRING=none XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=4 -- "$test" noKeyring || status=1
mapfile -t functions < <(XDG_RUNTIME_DIR=$tmp "$test" -functions | sed -n 's/()$//p' | grep -vx noKeyring)
session unlocked VELTRO_TEST_KEYRING=unlocked -- sh -c \
  'printf %s veltro-test-keyring | gnome-keyring-daemon --unlock --components=secrets >/dev/null && exec "$@"' \
  sh "$test" "${functions[@]}" || status=1
exit $status
