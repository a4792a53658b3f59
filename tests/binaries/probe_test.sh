#!/usr/bin/env bash
# The probe for 32-bit execution and what the tests do with its answer, and the static checks of
# a 32-bit build catching a binary that is not one.
#   probe_test.sh SOURCE_DIR BUILD32_DIR
set -u
top=$1
build32=$2
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrix-probe-test.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The real probe answers yes or no, in words, whatever this kernel is.
answer=$(bash "$top/scripts/probe-32bit.sh")
code=$?
case "$code:$answer" in
  "0:probe: this kernel runs 32-bit programs") ;;
  "1:probe: this kernel runs no 32-bit programs ("*) ;;
  *) fail "the probe answered $code: $answer" ;;
esac
echo "$answer"

# A kernel without 32-bit execution refuses an ELF it cannot run with "Exec format error": so does
# every kernel for one of a machine that does not exist.
foreign=$work/foreign
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xfe\xfe' >"$foreign"
head -c 76 /dev/zero >>"$foreign"
chmod +x "$foreign"
answer=$(KESTRIX_PROBE_PROGRAM=$foreign bash "$top/scripts/probe-32bit.sh")
[ $? -eq 1 ] || fail "the probe took a program of no machine for a 32-bit one"
[ "$answer" = "probe: this kernel runs no 32-bit programs (a 32-bit test program gave Exec format error)" ] ||
  fail "the probe said: $answer"

if [ ! -f "$build32/CTestTestfile.cmake" ]; then
  echo "no 32-bit build tree at $build32 (scripts/build.sh makes it): skipped the rest"
  exit 77
fi

# Without 32-bit execution, the 32-bit half says so, runs the static checks only, and passes.
output=$(KESTRIX_PROBE_PROGRAM=$foreign bash "$top/scripts/test32.sh" "$build32" 2>&1)
code=$?
[ $code -eq 0 ] || fail "the 32-bit half failed ($code) where it could only check:"$'\n'"$output"
grep -qx "32-bit suite not run: this kernel runs no 32-bit programs" <<<"$output" ||
  fail "the 32-bit half did not say it skipped the suite"
grep -q "binaries.static .*Passed" <<<"$output" || fail "the static checks did not run and pass"
grep -q "Exec format error" <<<"$output" && ! grep -q "^probe:" <<<"$output" &&
  fail "a 32-bit program was started"
tests_run=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' <<<"$output")
[ "$tests_run" = 1 ] || fail "the 32-bit half ran ${tests_run:-no} tests, not the static check alone"

# The static checks catch a binary of the other architecture and a decorated export.
mkdir "$work/bin"
cp "$build32"/bin/*.exe "$build32"/bin/*.dll "$build32"/bin/*.sys "$work/bin/"
cp "$build32/../bin/kestrixlayer.dll" "$work/bin/kestrixlayer.dll"   # the 64-bit one
output=$(bash "$top/scripts/check-binaries.sh" "$work/bin" x86)
[ $? -eq 1 ] || fail "check-binaries passed a 64-bit layer in a 32-bit build"
grep -q "kestrixlayer.dll is not pei-i386" <<<"$output" || fail "check-binaries did not name the layer: $output"
cp "$build32/bin/kestrixlayer.dll" "$work/bin/kestrixlayer.dll"
bash "$top/scripts/check-binaries.sh" "$work/bin" x86 >/dev/null || fail "check-binaries failed the real 32-bit build"
sed -i 's/WSPStartup/WSPStartuq/' "$work/bin/kestrixlayer.dll"
output=$(bash "$top/scripts/check-binaries.sh" "$work/bin" x86)
grep -q "kestrixlayer.dll lacks exports of provider/kestrixlayer.def: WSPStartup" <<<"$output" ||
  fail "check-binaries did not miss WSPStartup: $output"

echo "$failures failures"
[ $failures -eq 0 ]
