#!/usr/bin/env bash
# Makes the zips a Windows user downloads, one per architecture, from built trees:
#   BUILD_DIR/kestrix-VERSION-x64.zip   the 64-bit programs and layer, and x86\KESTRIXLAYER.DLL
#                                       so that 32-bit programs are traced too
#   BUILD_DIR/kestrix-VERSION-x86.zip   the 32-bit programs and layer
# each with the help file and QUICKSTART.TXT.
#   scripts/package.sh [BUILD_DIR]        (default: build; the 32-bit tree is BUILD_DIR/x86)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
version=$(sed -n 's/^project(Kestrix VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
command -v zip >/dev/null || { echo "package: zip is missing (scripts/setup.sh installs it)" >&2; exit 1; }

# pack ARCH BIN [x86 layer]
pack() {
  local arch=$1 bin=$2 layer32=${3:-}
  local stage zipfile=$build/kestrix-$version-$arch.zip
  stage=$(mktemp -d)
  for file in kestrix.exe kestrixrun.exe kestrixlayer.dll KESTRIX.RTF; do
    [ -f "$bin/$file" ] || { echo "package: $bin/$file is missing; build first" >&2; rm -rf "$stage"; exit 1; }
  done
  cp "$bin/kestrix.exe" "$bin/kestrixrun.exe" "$bin/KESTRIX.RTF" "$stage/"
  cp "$bin/kestrixlayer.dll" "$stage/KESTRIXLAYER.DLL"
  # Windows users read text files with CR LF line ends.
  sed 's/$/\r/' "$top/package/QUICKSTART.TXT" > "$stage/QUICKSTART.TXT"
  if [ -n "$layer32" ]; then
    mkdir "$stage/x86"
    cp "$layer32" "$stage/x86/KESTRIXLAYER.DLL"
  fi
  rm -f "$zipfile"
  (cd "$stage" && zip -q -r -X "$zipfile" .)
  rm -rf "$stage"
  echo "package: $zipfile"
}

pack x64 "$build/bin" "$build/x86/bin/kestrixlayer.dll"
pack x86 "$build/x86/bin"
