#!/usr/bin/env bash
# The README shows parts of the examples and names the build presets. Each
# excerpt, a code block after a line "<!-- excerpt: FILE -->", must stand in
# FILE as it is: its pieces between lines of "..." (or "// ...") word for
# word, in order. Each `--preset NAME` must be one of CMakePresets.json,
# which cmake must read.
#   readme.sh <source dir> <cmake>
set -euo pipefail
src=$1 cmake=$2
fail() { echo "FAILED: $*"; exit 1; }

# found FILE PIECE...: the pieces occur in FILE, in order.
found() {
  local rest piece
  rest=$(cat "$1")
  shift
  for piece in "$@"; do
    [[ "$rest" == *"$piece"* ]] || fail "README excerpt of ${file#"$src/"} not in the file: $piece"
    rest=${rest#*"$piece"}
  done
}
excerpts=0 file= inblock= pieces=() piece=
while IFS= read -r line; do
  if [[ "$line" =~ ^'<!-- excerpt: '(.+)' -->'$ ]]; then
    file=$src/${BASH_REMATCH[1]}
    [ -f "$file" ] || fail "the README quotes ${BASH_REMATCH[1]}, which does not exist"
  elif [ -n "$file" ] && [ -z "$inblock" ] && [[ "$line" == '```'* ]]; then
    inblock=yes pieces=() piece=
  elif [ -n "$inblock" ] && [[ "$line" == '```' || "$line" =~ ^[[:space:]]*(//[[:space:]]*)?\.\.\.$ ]]; then
    [ -n "$piece" ] && pieces+=("${piece%$'\n'}")
    piece=
    if [[ "$line" == '```' ]]; then
      found "$file" "${pieces[@]}"
      excerpts=$((excerpts + 1)) file= inblock=
    fi
  elif [ -n "$inblock" ]; then
    piece+="$line"$'\n'
  fi
done <"$src/README.md"
[ "$excerpts" -gt 0 ] || fail "the README quotes no example"

presets=$(cd "$src" && "$cmake" --list-presets=all) || fail "cmake cannot read CMakePresets.json"
for name in $(grep -o -- '--preset [A-Za-z0-9_-]*' "$src/README.md" | sort -u | cut -d' ' -f2); do
  [[ "$presets" == *"\"$name\""* ]] || fail "the README names a preset $name that CMakePresets.json lacks"
done
echo "README: $excerpts excerpts match their files; its presets exist"
