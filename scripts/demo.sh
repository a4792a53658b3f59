#!/usr/bin/env bash
# The main job: builds everything, starts the 64-bit viewer, presses Start with a real click, runs
# the HTTP pair and other sample programs one after another (each traced in turn: the next program
# is taken once the previous one has detached), stops, closes the viewer and leaves its HTML log
# file and a screenshot of the viewer showing the trace. Where this kernel runs 32-bit programs,
# the 32-bit build is made too and 32-bit samples are traced beside the 64-bit ones, through the
# catalog of 32-bit processes, as on 64-bit Windows.
#   scripts/demo.sh [BUILD_DIR]        (default: build)
# The viewer opens on $DISPLAY when it is set, otherwise on an Xvfb display of its own.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${1:-$top/build}" && cd "${1:-$top/build}" && pwd)
if bash "$top/scripts/probe-32bit.sh" --quiet; then
  builds=both
  samples32=(tcp_blocking udp)
else
  builds=x64
  samples32=()
  echo "demo: this kernel runs no 32-bit programs: only 64-bit samples are traced"
fi
bash "$top/scripts/build.sh" "$build" "$builds"

bash "$top/scripts/wine-session.sh" start "$build" >/dev/null
viewer_pid=
cleanup() {
  [ -n "$viewer_pid" ] && kill "$viewer_pid" 2>/dev/null
  bash "$top/scripts/wine-session.sh" stop "$build" >/dev/null
}
trap cleanup EXIT
display=${DISPLAY:-$(cat "$build/wine-session/display")}

out=$build/demo
mkdir -p "$out"
log=$out/kestrix-trace.html
shot=$out/kestrix-viewer.png
rm -f "$log" "$shot"
run() { "$build/wine-run" "$@"; }
# The programs run with the Winsock layer for Wine, which loads the layer from the catalog.
traced() { WINEDLLOVERRIDES="ws2_32=n,b" "$build/wine-run" "$@"; }
drive() { run viewerdriver.exe "$@"; }
waiting="the next process to start and make a socket call will be spyed"

cd "$build/bin"
# The log file and an unlimited log buffer, so the trace stays on screen to scroll through; where a
# program floods it (iocp_server), each display tick shows the newest lines that fit its budget and
# says where it skipped some, which the log file holds.
winlog="Z:$(echo "$log" | tr / '\\')"
run reg add 'HKCU\Software\Quenmoor\Kestrix' /v "Log File" /t REG_SZ /d "$winlog" /f >/dev/null
run reg add 'HKCU\Software\Quenmoor\Kestrix' /v "Buffer Size" /t REG_DWORD /d 0xffffffff /f >/dev/null
run reg add 'HKCU\Software\Quenmoor\Kestrix' /v "Width" /t REG_DWORD /d 1100 /f >/dev/null
run reg add 'HKCU\Software\Quenmoor\Kestrix' /v "Height" /t REG_DWORD /d 760 /f >/dev/null

echo "demo: starting the viewer on $display"
traced kestrix.exe &
viewer_pid=$!
drive find 30000
drive click Start
drive wait-status 1 Started 20000
drive wait-last-line "$waiting" 20000

samples=(http_pair tcp_blocking udp ipv6 nonblocking sockopts overlapped event_select async_select
         acceptex transmitfile wsarecvmsg wsa_variants poll_sendmsg iocp_server)
# 32-bit samples run from the 32-bit build, beside its own drop-in ws2_32.dll.
for sample in "${samples32[@]}"; do samples+=("x86/$sample"); done
failed=()
for sample in "${samples[@]}"; do
  echo
  echo "=== $sample"
  if [[ "$sample" == x86/* ]]; then
    command=("../x86/bin/${sample#x86/}.exe")
  elif [ "$sample" = http_pair ]; then
    command=(run_pair.exe http_server.exe http_client.exe)
  else
    command=("$sample.exe")
  fi
  traced "${command[@]}" || failed+=("$sample")
  # the viewer waits again once the program has detached
  if ! drive wait-last-line "$waiting" 60000; then
    failed+=("$sample (trace)")
  fi
  drive counts
done

sleep 1   # the last lines reach the log buffer on the display timer
# the viewer's own X window when it can be found, else the whole screen
window=$(xwininfo -display "$display" -name Kestrix 2>/dev/null | awk '/Window id:/ {print $4}' || true)
import -display "$display" -window "${window:-root}" "$shot" || echo "demo: no screenshot taken" >&2
drive click Stop
drive wait-status 1 Stopped 20000
drive close-yes 30000
wait "$viewer_pid" || true
viewer_pid=

echo
echo "demo: ${#samples[@]} sample programs traced, ${#failed[@]} failed${failed:+: ${failed[*]}}"
echo "demo: log file   $log"
echo "demo: screenshot $shot"
[ ${#failed[@]} -eq 0 ]
