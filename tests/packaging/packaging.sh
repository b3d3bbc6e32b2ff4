#!/usr/bin/env bash
# Makes the Debian packages of this build (and of any co-installed build
# trees, e.g. the other Qt major version) with cpack, unpacks all of them
# into one scratch root (dpkg -x: the real system is not touched) and checks
# that no two packages hold the same file, that every file a plain install
# writes is in a package, and per build: package names against the SONAME,
# dependencies found by dpkg-shlibdeps, the API pages and the host example in
# the documentation package, the Qt 6 build's QML module in its development
# package (imported from the root when qmltestrunner is there), a consumer
# built and run against the root through find_package and through pkg-config,
# and lintian without errors.
#   packaging.sh <consumer source dir> <cmake> <cpack> <c++ compiler> <sanitize list> <build dir> [<other build dir>...]
set -euo pipefail
consumer=$1 cmake=$2 cpack=$3 cxx=$4 sanitize=$5
shift 5
step() { echo "== [${SECONDS} s] $*"; }
bounded() { timeout --kill-after=10 240 "$@"; }
fail() { echo "FAILED: $*"; exit 1; }
for tool in dpkg-deb dpkg-shlibdeps lintian readelf pkg-config; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup installs it)"
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
root=$tmp/root
mkdir -p "$root"

builds=()
for build in "$@"; do
  [ -n "$build" ] && builds+=("$build")
done

# Packages per build, then one root holding all of them.
for i in "${!builds[@]}"; do
  build=${builds[$i]}
  if [ -f "$build/docs/Doxyfile" ]; then
    step "API pages of $build"
    bounded "$cmake" --build "$build" --target docs >/dev/null || fail "the docs target fails in $build"
  fi
  step "cpack in $build"
  (cd "$build" && bounded "$cpack" -G DEB -B "$tmp/debs$i" >"$tmp/cpack$i.log" 2>&1) \
    || { cat "$tmp/cpack$i.log"; fail "cpack failed in $build"; }
  ls "$tmp/debs$i"/*.deb
  for deb in "$tmp/debs$i"/*.deb; do
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' >>"$tmp/contents"
    dpkg-deb -x "$deb" "$root"
  done
  # The plain install's files, relative to its prefix, are the packages'
  # files relative to /usr: a rule without a component would miss here.
  bounded "$cmake" --install "$build" --prefix "$tmp/plain$i" >/dev/null
  missing=$(cd "$tmp/plain$i" && find . ! -type d | sed 's|^\./|usr/|' | sort | comm -23 - <(sort "$tmp/contents"))
  [ -z "$missing" ] || fail "installed by $build but in no package: $missing"
done
clash=$(sort "$tmp/contents" | uniq -d)
[ -z "$clash" ] || fail "in more than one package: $clash"
step "no file in two packages of ${#builds[@]} build(s); every installed file packaged"

flags=
if [ -n "$sanitize" ]; then flags="-fsanitize=$sanitize"; fi
field() { dpkg-deb -f "$1" "$2"; }

for i in "${!builds[@]}"; do
  build=${builds[$i]}
  major=$(sed -n 's/^VELTRO_QT_MAJOR:[A-Z]*=//p' "$build/CMakeCache.txt")
  if [ "$major" = 5 ]; then name=veltroclient package=VeltroClient suffix=
  else name=veltroclient-qt$major package=VeltroClientQt$major suffix=-qt$major; fi
  step "Qt $major: lib$name, CMake package $package"
  debs=("$tmp/debs$i"/*.deb)
  runtime='' dev='' doc='' programs=''
  for deb in "${debs[@]}"; do
    case $(field "$deb" Package) in
      "lib$name-dev") dev=$deb ;;
      "lib$name-doc") doc=$deb ;;
      "veltroclient-programs$suffix") programs=$deb ;;
      lib*) runtime=$deb ;;
    esac
  done
  if [ ${#debs[@]} != 4 ] || [ -z "$runtime" ] || [ -z "$dev" ] || [ -z "$doc" ] || [ -z "$programs" ]; then
    fail "expected a library package, lib$name-dev, lib$name-doc and veltroclient-programs$suffix, got:" \
      "$(for deb in "${debs[@]}"; do field "$deb" Package; done)"
  fi

  # The library package is named after the SONAME: libfoo.so.1 -> libfoo1,
  # libfoo-qt6.so.1 -> libfoo-qt6-1 (a name ending in a digit takes a dash).
  lib=$(dpkg-deb -c "$runtime" | awk '$1 ~ /^-/ {print $6}' | sed -n "s|^\./\(.*/lib$name\.so\..*\)|\1|p")
  [ -n "$lib" ] || fail "lib$name.so.* is not in $(field "$runtime" Package)"
  soname=$(readelf -d "$root/$lib" | sed -n 's/.*Library soname: \[\(.*\)\].*/\1/p')
  base=${soname%.so.*} version=${soname##*.so.}
  if [[ "$base" =~ [0-9]$ ]]; then expected=$base-$version; else expected=$base$version; fi
  step "SONAME $soname in $(field "$runtime" Package)"
  [ "$soname" = "lib$name.so.1" ] || fail "expected SONAME lib$name.so.1"
  [ "$(field "$runtime" Package)" = "$expected" ] || fail "the library package should be $expected"
  dpkg-deb --ctrl-tarfile "$runtime" | tar -xO ./shlibs | grep -qx "lib$name 1 $expected (>= .*)" \
    || fail "the shlibs file does not point at $expected"
  # Dependencies from dpkg-shlibdeps: the Qt the library was built with and liblzma.
  depends=$(field "$runtime" Depends)
  echo "Depends: $depends"
  [[ "$depends" == *"libqt${major}core"* && "$depends" == *liblzma* ]] \
    || fail "the library package does not depend on Qt $major and liblzma"

  for deb in "$dev" "$programs"; do
    [[ "$(field "$deb" Depends)" == *"$expected (= "* ]] || fail "$(field "$deb" Package) does not depend on $expected"
  done
  for f in examples/readme_example.cpp copyright $([ -f "$build/docs/Doxyfile" ] && echo html/index.html); do
    [ -f "$root/usr/share/doc/lib$name-doc/$f" ] || fail "lib$name-doc lacks /usr/share/doc/lib$name-doc/$f"
  done
  names=(veltro-present veltro-classroom)
  [ "$major" = 6 ] && names+=(veltro-classroom-qml)
  for program in "${names[@]}"; do
    [ -x "$root/usr/bin/$program$suffix" ] || fail "$program$suffix is not in veltroclient-programs$suffix"
  done

  libdir=$root/$(dirname "$lib")
  export LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

  # The QML module "Veltro" of the Qt 6 build: in the development package,
  # below Qt's import path, and importable from there.
  if [ "$major" != 5 ] && ! grep -q '^VELTRO_BUILD_QML:BOOL=OFF' "$build/CMakeCache.txt"; then
    qmldir=$(dpkg-deb -c "$dev" | awk '{print $6}' | sed -n 's|^\./\(.*/qml/Veltro/qmldir\)$|\1|p')
    [ -n "$qmldir" ] && [ -f "$root/$qmldir" ] || fail "the QML module's qmldir is not in lib$name-dev"
    grep -qx 'module Veltro' "$root/$qmldir" || fail "$qmldir is not the module Veltro's"
    plugin=$(sed -n 's/^optional plugin //p' "$root/$qmldir")
    [ -f "$(dirname "$root/$qmldir")/lib$plugin.so" ] || fail "the QML plugin lib$plugin.so is not beside $qmldir"
    step "QML module Veltro in /$(dirname "$qmldir")"
    # (The qmltestrunner on PATH may be another Qt's; Qt 6's lives in its bins.)
    runner=$(qtpaths6 --query QT_INSTALL_BINS 2>/dev/null || echo /usr/lib/qt6/bin)/qmltestrunner
    if [ -x "$runner" ]; then
      mkdir -p "$tmp/qml$i"
      printf '%s\n' 'import QtTest' 'import Veltro' \
        'TestCase { name: "Installed"; Classroom { id: room }' \
        '  function test_types() { compare(room.pollKinds.length, 10); compare(room.connectionState, Veltro.Closed) } }' \
        >"$tmp/qml$i/tst_installed.qml"
      QT_QPA_PLATFORM=offscreen bounded "$runner" -import "$root/$(dirname "$(dirname "$qmldir")")" \
        -input "$tmp/qml$i/tst_installed.qml" || fail "import Veltro fails from the root"
    fi
  fi
  step "find_package($package) consumer"
  bounded "$cmake" -S "$consumer" -B "$tmp/consumer$i" -DCMAKE_PREFIX_PATH="$root/usr" -DVELTRO_PACKAGE="$package" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_BUILD_TYPE=Release >/dev/null
  bounded "$cmake" --build "$tmp/consumer$i" >/dev/null
  out=$(bounded "$tmp/consumer$i/consumer")
  echo "$out"
  [[ "$out" == *" qt $major."* ]] || fail "the consumer does not run on Qt $major"

  step "pkg-config $name consumer"
  # The .pc file locates its prefix from its own place, so it works from the root.
  pc=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs "$name")
  echo "pkg-config: $pc"
  [[ "$pc" == *"-I$root/"* ]] || fail "pkg-config does not point into the root"
  # shellcheck disable=SC2086
  bounded "$cxx" -std=c++17 -fPIC $flags "$consumer/main.cpp" -o "$tmp/consumer_pc$i" $pc
  out=$(bounded "$tmp/consumer_pc$i")
  echo "$out"
  [[ "$out" == *" qt $major."* ]] || fail "the pkg-config consumer does not run on Qt $major"

  # Only the build under test: a co-installed tree had its own run.
  if [ "$i" = 0 ]; then
    step "lintian"
    bounded lintian --fail-on error "${debs[@]}" || fail "lintian reports errors"
  fi
done
step "packaging ok"
