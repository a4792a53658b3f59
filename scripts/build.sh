#!/usr/bin/env bash
# Sets the machine up (scripts/setup.sh) and builds every target into one build tree.
#   scripts/build.sh [BUILD_DIR]        (default: build)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
bash "$top/scripts/setup.sh"
cmake -S "$top" -B "$build" -G "Unix Makefiles" >/dev/null
echo "build: compiling into $build (log in $build/build.log)"
if ! make -C "$build" --no-print-directory -j"$(nproc)" >"$build/build.log" 2>&1; then
  grep -E 'error|Error' "$build/build.log" | head -40
  echo "build: failed; see $build/build.log" >&2
  exit 1
fi
echo "build: done"
