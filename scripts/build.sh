#!/usr/bin/env bash
# Sets the machine up (scripts/setup.sh) and builds every target, for one or both architectures:
# the 64-bit (x86-64) build into BUILD_DIR, the 32-bit (i686) build into BUILD_DIR/x86, and with
# both, the 32-bit layer also into BUILD_DIR/bin/x86 for the 64-bit programs.
#   scripts/build.sh [BUILD_DIR] [x64|x86|both]        (default: build, both)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
which=${2:-both}
bash "$top/scripts/setup.sh"

# build_tree DIR TOOLCHAIN NAME
build_tree() {
  local dir=$1 toolchain=$2 name=$3
  mkdir -p "$dir"
  cmake -S "$top" -B "$dir" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$toolchain" >/dev/null
  echo "build: compiling the $name build into $dir (log in $dir/build.log)"
  if ! make -C "$dir" --no-print-directory -j"$(nproc)" >"$dir/build.log" 2>&1; then
    grep -E 'error|Error' "$dir/build.log" | head -40
    echo "build: the $name build failed; see $dir/build.log" >&2
    exit 1
  fi
}

case $which in
  x64|both) build_tree "$build" toolchain-x86_64-mingw32.cmake 64-bit ;;&
  x86|both) build_tree "$build/x86" toolchain-i686-mingw32.cmake 32-bit ;;
  x64) ;;
  *) echo "usage: build.sh [BUILD_DIR] [x64|x86|both]" >&2; exit 2 ;;
esac
# The 64-bit viewer and kestrixrun register the 32-bit layer for 32-bit programs from the x86
# folder beside them, as the 64-bit zip lays them out.
if [ "$which" = both ]; then
  mkdir -p "$build/bin/x86"
  cp -p "$build/x86/bin/kestrixlayer.dll" "$build/bin/x86/kestrixlayer.dll"
fi
echo "build: done"
