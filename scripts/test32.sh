#!/usr/bin/env bash
# The 32-bit half of the tests, for the 32-bit build tree: the whole suite under 32-bit Wine where
# this kernel runs 32-bit programs (scripts/probe-32bit.sh finds out), and otherwise the checks
# that need not run it (ctest's label "static": image format, imports, exports, manifest).
#   scripts/test32.sh BUILD32_DIR [ctest arguments...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build32=$(cd "${1:?usage: test32.sh BUILD32_DIR [ctest arguments...]}" && pwd)
shift
cd "$build32"
if bash "$top/scripts/probe-32bit.sh"; then
  exec ctest --output-on-failure "$@"
fi
echo "32-bit suite not run: this kernel runs no 32-bit programs"
exec ctest --output-on-failure -L static "$@"
