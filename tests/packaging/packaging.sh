#!/usr/bin/env bash
# Makes the Debian packages of this build (and of any co-installed build
# trees, e.g. the other Qt major version) with cpack, unpacks all of them
# into one scratch root (dpkg -x: the real system is not touched) and checks
# that no two packages hold the same file, that a plain install writes exactly
# the packages' files (the API pages too), and per build: package names
# against the SONAME, dependencies found by dpkg-shlibdeps, the API pages and
# the examples in the documentation package, the examples built against the
# root through find_package and the C++ one through pkg-config, the Qt 6
# build's QML module in its development package, found through the CMake
# package and loaded by the QML example with no LD_LIBRARY_PATH, and lintian
# without errors or warnings.
#   packaging.sh <consumer source dir> <cmake> <cpack> <c++ compiler> <sanitize list> <build dir> [<other build dir>...]
set -euo pipefail
consumer=$1 cmake=$2 cpack=$3 cxx=$4 sanitize=$5
shift 5
step() { echo "== [${SECONDS} s] $*"; }
bounded() { timeout --kill-after=10 240 "$@"; }
fail() { echo "FAILED: $*"; exit 1; }
for tool in dpkg-deb dpkg-shlibdeps lintian readelf ldd pkg-config; do
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
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' >>"$tmp/contents$i"
    dpkg-deb -x "$deb" "$root"
  done
  sort -o "$tmp/contents$i" "$tmp/contents$i"
  cat "$tmp/contents$i" >>"$tmp/contents"
  # The plain install's files, relative to its prefix, are the packages'
  # files relative to /usr: a rule without a component would miss one way,
  # a file only cpack sees (the API pages, say) the other. Only the packages
  # carry their copyright and changelog.
  bounded "$cmake" --install "$build" --prefix "$tmp/plain$i" >/dev/null
  (cd "$tmp/plain$i" && find . ! -type d | sed 's|^\./|usr/|' | sort) >"$tmp/plain$i.list"
  missing=$(comm -23 "$tmp/plain$i.list" "$tmp/contents$i")
  [ -z "$missing" ] || fail "installed by $build but in no package: $missing"
  unplain=$(comm -13 "$tmp/plain$i.list" "$tmp/contents$i" | grep -Ev '^usr/share/doc/[^/]+/(copyright|changelog\.gz)$' || true)
  [ -z "$unplain" ] || fail "packaged from $build but not installed by cmake --install: $unplain"
done
clash=$(sort "$tmp/contents" | uniq -d)
[ -z "$clash" ] || fail "in more than one package: $clash"
step "no file in two packages of ${#builds[@]} build(s); a plain install writes the packages' files"

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
  # The keyring: QtKeychain is linked, libsecret only loaded at run time.
  [[ "$(field "$programs" Depends)" == *"libqt${major}keychain1"* && "$(field "$programs" Depends)" == *libsecret-1-0* ]] \
    || fail "$(field "$programs" Package) does not depend on QtKeychain and libsecret: $(field "$programs" Depends)"
  qml=
  [ "$major" != 5 ] && ! grep -q '^VELTRO_BUILD_QML:BOOL=OFF' "$build/CMakeCache.txt" && qml=yes
  examples=$root/usr/share/doc/lib$name-doc/examples
  for f in examples/cpp-host/main.cpp examples/cpp-host/CMakeLists.txt copyright \
           $([ -n "$qml" ] && echo examples/qml-host/Main.qml) $([ -f "$build/docs/Doxyfile" ] && echo html/index.html); do
    [ -f "$root/usr/share/doc/lib$name-doc/$f" ] || fail "lib$name-doc lacks /usr/share/doc/lib$name-doc/$f"
  done
  names=(veltro-present veltro-classroom)
  [ "$major" = 6 ] && names+=(veltro-classroom-qml)
  for program in "${names[@]}"; do
    [ -x "$root/usr/bin/$program$suffix" ] || fail "$program$suffix is not in veltroclient-programs$suffix"
  done

  libdir=$root/$(dirname "$lib")
  export LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

  # A host built against the root: linked to Qt $major and to the root's
  # library, and it starts (without arguments it says how to call it).
  # (Outputs are read whole: grep -q would end a pipe early.)
  host_runs() {
    [[ "$(readelf -d "$1")" == *"[libQt${major}Core.so.$major]"* ]] || fail "$1 is not linked to Qt $major"
    [[ "$(ldd "$1")" == *"lib$name.so.1 => $root/"* ]] || fail "$1 does not load the root's lib$name.so.1"
    local rc=0 out
    out=$(bounded "$1" 2>&1) || rc=$?
    echo "$out"
    [ "$rc" = 2 ] && [[ "$out" == *"usage: classroom-host"* ]] || fail "$1 does not start (exit $rc)"
  }
  step "examples built against $package from /usr/share/doc/lib$name-doc/examples"
  bounded "$cmake" -S "$consumer" -B "$tmp/consumer$i" -DCMAKE_PREFIX_PATH="$root/usr" -DVELTRO_PACKAGE="$package" \
    -DVELTRO_EXAMPLES="$examples" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_BUILD_TYPE=Release >/dev/null
  bounded "$cmake" --build "$tmp/consumer$i" >/dev/null
  host_runs "$tmp/consumer$i/cpp-host/classroom-host"

  # The QML module "Veltro" of the Qt 6 build: in the development package,
  # below Qt's import path, named by the CMake package, and loadable from
  # there by a QML-only host: the plugin finds the library by its run path.
  if [ -n "$qml" ]; then
    imports=$(cat "$tmp/consumer$i/qml_import_dir.txt")
    qmldir=$imports/Veltro/qmldir
    dpkg-deb -c "$dev" | grep -c "\.${qmldir#"$root"}\$" >/dev/null \
      || fail "$package names $imports, where lib$name-dev puts no qmldir"
    grep -qx 'module Veltro' "$qmldir" || fail "$qmldir is not the module Veltro's"
    plugin=$(dirname "$qmldir")/lib$(sed -n 's/^optional plugin //p' "$qmldir").so
    step "QML module Veltro in ${imports#"$root"}"
    [[ "$(env -u LD_LIBRARY_PATH ldd "$plugin")" == *"lib$name.so.1 => $root/"* ]] \
      || fail "the QML plugin does not find lib$name.so.1 beside it: $(readelf -d "$plugin" | grep -i path)"
    mkdir -p "$tmp/qml$i"
    printf '%s\n' 'import QtQuick' 'import QtTest' 'TestCase {' '  name: "InstalledExample"' \
      "  function test_load() { var c = Qt.createComponent(\"file://$examples/qml-host/Main.qml\")" \
      '    compare(c.status, Component.Ready, c.errorString()); var host = c.createObject(null); verify(host); host.destroy() } }' \
      >"$tmp/qml$i/tst_installed.qml"
    # (The qmltestrunner on PATH may be another Qt's; Qt 6's lives in its bins.)
    runner=$(qtpaths6 --query QT_INSTALL_BINS 2>/dev/null || echo /usr/lib/qt6/bin)/qmltestrunner
    (unset LD_LIBRARY_PATH; QT_QPA_PLATFORM=offscreen bounded "$runner" -import "$imports" -input "$tmp/qml$i/tst_installed.qml") \
      || fail "the QML example does not load from the root"
  fi

  step "pkg-config $name: the C++ example"
  # The .pc file locates its prefix from its own place, so it works from the root.
  pc=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs "$name")
  echo "pkg-config: $pc"
  [[ "$pc" == *"-I$root/"* ]] || fail "pkg-config does not point into the root"
  # shellcheck disable=SC2086
  bounded "$cxx" -std=c++17 -fPIC $flags "$examples/cpp-host/main.cpp" -o "$tmp/consumer_pc$i" $pc
  host_runs "$tmp/consumer_pc$i"

  # Only the build under test: a co-installed tree had its own run.
  if [ "$i" = 0 ]; then
    step "lintian"
    bounded lintian --fail-on error,warning "${debs[@]}" || fail "lintian reports errors or warnings"
  fi
done
step "packaging ok"
