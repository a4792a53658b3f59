#!/usr/bin/env bash
# The console tracer from a Linux shell: sets up and builds what is missing (scripts/build.sh),
# then runs kestrixrun.exe in the build tree's Wine prefix under the drop-in Winsock layer.
#   scripts/kestrixrun.sh [kestrixrun options] [--] program [arguments...]
# The program runs in build/bin, where the samples are, so a sample needs no folder. --output FILE
# and a program given with a folder are taken relative to the current folder. The trace (without
# --output) is standard output; the set-up's messages go to standard error. The exit code is
# kestrixrun's: the traced program's own, 1 when nothing could be traced, 2 for bad arguments.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRIX_BUILD:-$top/build}
bash "$top/scripts/build.sh" "$build" x64 >&2

# Wine sees the Linux file system as drive Z:.
windows_path() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }

args=()
options=true
while [ $# -gt 0 ]; do
  if $options; then
    case "$1" in
      --output) args+=("$1" "$(windows_path "${2:-}")"); shift 2; continue ;;
      --detail|--format) args+=("$1" "${2:-}"); shift 2; continue ;;
      --) args+=("$1"); options=false; shift; continue ;;
      --*) args+=("$1"); shift; continue ;;
    esac
    options=false
    [[ "$1" == */* && -f "$1" ]] && { args+=("$(windows_path "$1")"); shift; continue; }
  fi
  args+=("$1")
  shift
done

bash "$top/scripts/wine-session.sh" start "$build" >/dev/null
export WINEDLLOVERRIDES="ws2_32=n,b${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
cd "$build/bin"
exec "$build/wine-run" kestrixrun.exe "${args[@]}"
