#!/usr/bin/env bash
# Builds both architectures and runs the tests: the whole suite on the 64-bit build under 64-bit
# Wine, then the 32-bit build's (scripts/test32.sh: its whole suite under 32-bit Wine where this
# kernel runs 32-bit programs, its static checks where it does not).
#   scripts/test.sh [ctest arguments...]
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build
bash "$top/scripts/build.sh" "$build" both || exit 1

# ctest's closing line of each half, read back for the closing count of both.
count() { sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2 \1/p' "$1" | tail -1; }
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

echo "test: the 64-bit suite"
(cd "$build" && ctest --output-on-failure "$@") 2>&1 | tee "$logs/x64"
status64=${PIPESTATUS[0]}
echo
echo "test: the 32-bit build"
bash "$top/scripts/test32.sh" "$build/x86" "$@" 2>&1 | tee "$logs/x86"
status32=${PIPESTATUS[0]}

read -r total64 failed64 <<<"$(count "$logs/x64")"
read -r total32 failed32 <<<"$(count "$logs/x86")"
# A half that failed without a count of its own (ctest did not get to its closing line) counts once.
[ "$status64" -ne 0 ] && [ "${failed64:-0}" -eq 0 ] && failed64=1
[ "$status32" -ne 0 ] && [ "${failed32:-0}" -eq 0 ] && failed32=1
total=$(( ${total64:-0} + ${total32:-0} ))
failed=$(( ${failed64:-0} + ${failed32:-0} ))
echo
echo "test: $((total - failed)) passed, $failed failed"
[ "$status64" -eq 0 ] && [ "$status32" -eq 0 ]
