#!/usr/bin/env bash
# Installs the built library (and any co-installed build trees, e.g. the other
# Qt major version) into one temporary prefix, checks that no two builds
# install the same file, then per build checks the SONAME and the headers and
# builds and runs a consumer against it twice: through find_package and
# through pkg-config. The consumer must run on the Qt its package names.
#   packaging.sh <consumer source dir> <cmake> <c++ compiler> <sanitize list> <build dir>...
set -euo pipefail
consumer=$1 cmake=$2 cxx=$3 sanitize=$4
shift 4
step() { echo "== $*"; }
bounded() { timeout --kill-after=10 240 "$@"; }
fail() { echo "$*"; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

builds=()
for build in "$@"; do
  [ -n "$build" ] && builds+=("$build")
done
for build in "${builds[@]}"; do
  step "install $build into $prefix"
  bounded "$cmake" --install "$build" --prefix "$prefix" >/dev/null
  sort "$build/install_manifest.txt" >"$tmp/manifest.$(basename "$build")"
done
if [ ${#builds[@]} -gt 1 ]; then
  clash=$(sort "$tmp"/manifest.* | uniq -d)
  [ -z "$clash" ] || fail "installed by more than one build: $clash"
  step "no file installed twice by ${#builds[@]} builds"
fi

flags=
if [ -n "$sanitize" ]; then flags="-fsanitize=$sanitize"; fi

for build in "${builds[@]}"; do
  major=$(sed -n 's/^VELTRO_QT_MAJOR:[A-Z]*=//p' "$build/CMakeCache.txt")
  if [ "$major" = 5 ]; then name=veltroclient package=VeltroClient include=$prefix/include
  else name=veltroclient-qt$major package=VeltroClientQt$major include=$prefix/include/$name; fi
  step "Qt $major: $name, package $package"

  lib=$(find "$prefix" -name "lib$name.so.*.*" -type f | head -n1)
  [ -n "$lib" ] || fail "lib$name.so.* not installed"
  libdir=$(dirname "$lib")
  soname=$(readelf -d "$lib" | sed -n 's/.*Library soname: \[\(.*\)\].*/\1/p')
  step "SONAME: $soname"
  [ "$soname" = "lib$name.so.1" ] || fail "expected SONAME lib$name.so.1"
  [ -e "$libdir/lib$name.so.1" ] && [ -e "$libdir/lib$name.so" ] || fail "missing lib$name.so.1 or lib$name.so link"
  [ -f "$include/veltroclient/veltroclient.h" ] && [ -f "$include/veltroclient/veltroclient_export.h" ] \
    || fail "public headers missing under $include/veltroclient"
  export LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

  step "find_package($package) consumer"
  bounded "$cmake" -S "$consumer" -B "$tmp/consumer$major" -DCMAKE_PREFIX_PATH="$prefix" -DVELTRO_PACKAGE="$package" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_BUILD_TYPE=Release >/dev/null
  bounded "$cmake" --build "$tmp/consumer$major" >/dev/null
  out=$(bounded "$tmp/consumer$major/consumer")
  echo "$out"
  [[ "$out" == *" qt $major."* ]] || fail "the consumer does not run on Qt $major"

  step "pkg-config $name consumer"
  # The .pc file locates its prefix from its own place, so it works from the
  # temporary prefix as installed.
  pc=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs "$name")
  echo "pkg-config: $pc"
  # shellcheck disable=SC2086
  bounded "$cxx" -std=c++17 -fPIC $flags "$consumer/main.cpp" -o "$tmp/consumer_pc$major" $pc
  out=$(bounded "$tmp/consumer_pc$major")
  echo "$out"
  [[ "$out" == *" qt $major."* ]] || fail "the pkg-config consumer does not run on Qt $major"
done
step "packaging ok"
