#!/usr/bin/env bash
# The zips a Windows user gets: each holds its programs, its layer, the help and the quick start,
# of its own architecture; the 64-bit one the 32-bit layer in x86 as well.
#   package_test.sh SOURCE_DIR BUILD_DIR
set -u
top=$1
build=$2
[ -f "$build/x86/bin/kestrixlayer.dll" ] || { echo "no 32-bit build in $build/x86: skipped"; exit 77; }
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
bash "$top/scripts/package.sh" "$build" || fail "package.sh failed"
version=$(sed -n 's/^project(Kestrix VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# check ZIP FORMAT FILES...: the zip holds exactly FILES, each PE file of FORMAT unless in x86/.
check() {
  local arch=$1 zipfile=$build/kestrix-$version-$1.zip format=$2
  shift 2
  [ -f "$zipfile" ] || { fail "$zipfile is missing"; return; }
  local listed
  listed=$(unzip -Z1 "$zipfile" | grep -v '/$' | sort)
  [ "$listed" = "$(printf '%s\n' "$@" | sort)" ] || fail "$zipfile holds: $(echo $listed)"
  mkdir "$work/$arch" && unzip -q "$zipfile" -d "$work/$arch"
  for file in kestrix.exe kestrixrun.exe KESTRIXLAYER.DLL; do
    x86_64-w64-mingw32-objdump -f "$work/$arch/$file" 2>/dev/null | grep -q "file format $format\$" ||
      fail "$arch: $file is not $format"
  done
  grep -q $'\r$' "$work/$arch/QUICKSTART.TXT" || fail "$arch: QUICKSTART.TXT has no CR LF line ends"
}
check x64 pei-x86-64 kestrix.exe kestrixrun.exe KESTRIXLAYER.DLL KESTRIX.RTF QUICKSTART.TXT x86/KESTRIXLAYER.DLL
check x86 pei-i386 kestrix.exe kestrixrun.exe KESTRIXLAYER.DLL KESTRIX.RTF QUICKSTART.TXT
i686-w64-mingw32-objdump -f "$work/x64/x86/KESTRIXLAYER.DLL" | grep -q "file format pei-i386$" ||
  fail "the 64-bit zip's x86 layer is not 32-bit"
cmp -s "$work/x64/x86/KESTRIXLAYER.DLL" "$build/x86/bin/kestrixlayer.dll" || fail "the x86 layer is not the 32-bit build's"
echo "$failures failures"
[ $failures -eq 0 ]
