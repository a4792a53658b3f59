#!/usr/bin/env bash
# Runs an unmodified Winsock program under the drop-in Winsock layer for Wine.
#   scripts/ws2run.sh [--build DIR] program.exe [arguments...]
# DIR is a build tree with the winsock folder built (default: $KESTRIX_BUILD, else build/). The
# program runs through DIR/wine-run in that tree's prefix with WINEDLLOVERRIDES=ws2_32=n,b. A
# program outside DIR/bin is run from a temporary folder that links its own folder's files and
# the drop-in, so its folder is left as it is; catalog paths (%WS2LAYER_HOME%) name DIR/bin.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${KESTRIX_BUILD:-$here/../build}
if [ "${1:-}" = "--build" ]; then
  [ $# -ge 2 ] || { echo "ws2run: --build needs a folder" >&2; exit 2; }
  build=$2
  shift 2
fi
[ $# -ge 1 ] || { echo "usage: ws2run.sh [--build DIR] program.exe [arguments...]" >&2; exit 2; }
build=$(cd "$build" && pwd)
bin=$build/bin
program=$1
shift
for needed in "$build/wine-run" "$bin/ws2_32.dll"; do
  [ -e "$needed" ] || { echo "ws2run: $needed is missing; build the winsock folder first" >&2; exit 1; }
done
[ -f "$program" ] || { echo "ws2run: no such program: $program" >&2; exit 1; }
program_dir=$(cd "$(dirname "$program")" && pwd)
program_name=$(basename "$program")

bash "$here/wine-session.sh" start "$build" >/dev/null
export WINEDLLOVERRIDES="ws2_32=n,b${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

if [ "$program_dir" = "$bin" ]; then
  exec "$build/wine-run" "$bin/$program_name" "$@"
fi

# The drop-in must sit beside the program; a folder of links puts it there without copying.
stage=$(mktemp -d "${TMPDIR:-/tmp}/ws2run.XXXXXX")
trap 'rm -rf "$stage"' EXIT
for entry in "$program_dir"/* "$program_dir"/.[!.]*; do
  [ -e "$entry" ] && ln -s "$entry" "$stage/$(basename "$entry")"
done
ln -sf "$bin/ws2_32.dll" "$stage/ws2_32.dll"
export WS2LAYER_HOME="Z:$(echo "$bin" | tr / '\\')"
"$build/wine-run" "$stage/$program_name" "$@"
