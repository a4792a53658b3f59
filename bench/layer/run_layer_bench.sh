#!/usr/bin/env bash
# Runs the baseline round-trip workload (bench_sockets.exe) through the Winsock layer for Wine
# three ways and prints operations per second and the ratio to the run without the layer:
#   1. drop-in ws2_32, catalog without the Kestrix layer (the reference)
#   2. the Kestrix layer installed, no viewer attached
#   3. the Kestrix layer installed, traced by a viewer stand-in that accepts every record
# The goal: with no viewer, within 1.1x of the reference.
#   run_layer_bench.sh BUILD_DIR [bench_sockets options...]
# BUILD_DIR is a tree built with winsock, provider, bench and tests (for tracewatch.exe).
set -eu
build=$(cd "$1" && pwd)
shift
options=("$@")
[ ${#options[@]} -gt 0 ] || options=(--roundtrips 5000 --bulk-mib 16 --runs 3)
bin=$build/bin
layer_id="{F388AA6E-39C9-4C31-9AF1-41866B21EF03}"
layer_path="Z:$(echo "$bin/kestrixlayer.dll" | tr / '\\')"
export WINEDLLOVERRIDES="ws2_32=n,b"

for program in bench_sockets.exe kestrixlayer.dll wscatalog.exe tracewatch.exe ws2_32.dll; do
  [ -f "$bin/$program" ] || { echo "run_layer_bench: $bin/$program is missing" >&2; exit 1; }
done
bash "$(dirname "$0")/../../scripts/wine-session.sh" start "$build" >/dev/null
trap 'cd "$bin" && "$build/wine-run" wscatalog.exe remove "$layer_id" >/dev/null 2>&1 || true' EXIT
cd "$bin"

run() {   # prints roundtrip_ops_per_s of one workload run
  local output
  output=$("$build/wine-run" "$@" "${options[@]}" 2>/dev/null | tr -d '\r')
  local figure
  figure=$(echo "$output" | awk '$1 == "roundtrip_ops_per_s" {print $2}')
  if [ -z "$figure" ]; then
    echo "run_layer_bench: no figure from: $*" >&2
    echo "$output" >&2
    exit 1
  fi
  echo "$figure"
}

"$build/wine-run" wscatalog.exe remove "$layer_id" >/dev/null 2>&1 || true
reference=$(run bench_sockets.exe)
"$build/wine-run" wscatalog.exe install "$layer_path" "$layer_id" Kestrix >/dev/null
untraced=$(run bench_sockets.exe)
traced=$(run tracewatch.exe --quiet --detail 2 bench_sockets.exe)

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }'; }
echo "workload: bench_sockets.exe ${options[*]}"
printf "%-32s %12s %10s\n" "configuration" "ops_per_s" "ratio"
printf "%-32s %12s %10s\n" "without the layer" "$reference" "1.000"
printf "%-32s %12s %10s\n" "layer, no viewer" "$untraced" "$(ratio "$reference" "$untraced")"
printf "%-32s %12s %10s\n" "layer, viewer accepting records" "$traced" "$(ratio "$reference" "$traced")"
echo "ratio = reference ops/s divided by this run's ops/s; goal without a viewer: at most 1.1"
