#!/usr/bin/env bash
# Installs the built library into a temporary prefix, checks its SONAME, then
# builds and runs a consumer against it twice: through find_package and
# through pkg-config.
#   packaging.sh <build dir> <consumer source dir> <cmake> <c++ compiler> [sanitize list]
set -euo pipefail
build=$1 consumer=$2 cmake=$3 cxx=$4 sanitize=${5:-}
step() { echo "== $*"; }
bounded() { timeout --kill-after=10 240 "$@"; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

step "install into $prefix"
bounded "$cmake" --install "$build" --prefix "$prefix" >/dev/null

lib=$(find "$prefix" -name 'libveltroclient.so.*.*' -type f | head -n1)
[ -n "$lib" ] || { echo "libveltroclient.so.* not installed"; exit 1; }
libdir=$(dirname "$lib")
soname=$(readelf -d "$lib" | sed -n 's/.*Library soname: \[\(.*\)\].*/\1/p')
step "SONAME: $soname"
[ "$soname" = "libveltroclient.so.1" ] || { echo "expected SONAME libveltroclient.so.1"; exit 1; }
[ -e "$libdir/libveltroclient.so.1" ] && [ -e "$libdir/libveltroclient.so" ] \
  || { echo "missing libveltroclient.so.1 or libveltroclient.so link"; exit 1; }
[ -f "$prefix/include/veltroclient/veltroclient.h" ] && [ -f "$prefix/include/veltroclient/veltroclient_export.h" ] \
  || { echo "public headers missing under include/veltroclient"; exit 1; }

flags=
if [ -n "$sanitize" ]; then flags="-fsanitize=$sanitize"; fi
export LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

step "find_package consumer"
bounded "$cmake" -S "$consumer" -B "$tmp/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_BUILD_TYPE=Release >/dev/null
bounded "$cmake" --build "$tmp/consumer" >/dev/null
bounded "$tmp/consumer/consumer"

step "pkg-config consumer"
# The .pc file locates its prefix from its own place, so it works from the
# temporary prefix as installed.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
pc=$(pkg-config --cflags --libs veltroclient)
echo "pkg-config: $pc"
# shellcheck disable=SC2086
bounded "$cxx" -std=c++17 -fPIC $flags "$consumer/main.cpp" -o "$tmp/consumer_pc" $pc
bounded "$tmp/consumer_pc"
step "packaging ok"
