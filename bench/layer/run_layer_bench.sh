#!/usr/bin/env bash
# What the Kestrix layer costs a socket workload, run through the Winsock layer for Wine three
# ways:
#   1. drop-in ws2_32, catalog without the Kestrix layer (the reference)
#   2. the Kestrix layer installed, no viewer attached
#   3. the Kestrix layer installed, traced at Medium by a viewer stand-in that accepts every record
# The workload is bench_sockets.exe (synchronous and overlapped round trips and bulk transfer;
# goal with no viewer: at most 1.1 for every figure) unless --program names another, such as
# bench_async_select.exe (message-driven round trips; goal 1.2, given with --goal).
# Each figure is the median over N rounds (default 5); every round runs all three, in turn, in an
# order that alternates from round to round, so that drift of the machine falls on all alike.
# The ratio is the cost against the reference (reference rate over this rate).
#   run_layer_bench.sh BUILD_DIR [--rounds N] [--program NAME] [--goal X] [program options...]
# BUILD_DIR is a tree built with winsock, provider, bench and tests (for tracewatch.exe).
set -eu
build=$(cd "$1" && pwd)
shift
rounds=5
program=bench_sockets.exe
goal=1.1
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --program) program=$2; shift 2 ;;
    --goal) goal=$2; shift 2 ;;
    *) break ;;
  esac
done
options=("$@")
if [ ${#options[@]} -eq 0 ] && [ "$program" = bench_sockets.exe ]; then
  options=(--roundtrips 3000 --bulk-mib 64 --runs 1)
fi
bin=$build/bin
layer_id="{F388AA6E-39C9-4C31-9AF1-41866B21EF03}"
layer_path="Z:$(echo "$bin/kestrixlayer.dll" | tr / '\\')"
export WINEDLLOVERRIDES="ws2_32=n,b"

for needed in "$program" kestrixlayer.dll wscatalog.exe tracewatch.exe ws2_32.dll; do
  [ -f "$bin/$needed" ] || { echo "run_layer_bench: $bin/$needed is missing" >&2; exit 1; }
done
bash "$(dirname "$0")/../../scripts/wine-session.sh" start "$build" >/dev/null
installed=unknown
remove_layer() {
  [ "$installed" = no ] && return
  "$build/wine-run" wscatalog.exe remove "$layer_id" >/dev/null 2>&1 || true
  installed=no
}
install_layer() {
  [ "$installed" = yes ] && return
  "$build/wine-run" wscatalog.exe install "$layer_path" "$layer_id" Kestrix >/dev/null
  installed=yes
}
trap 'cd "$bin" && installed=unknown && remove_layer' EXIT
cd "$bin"
remove_layer   # a layer left behind by an interrupted run would spoil the reference

# The configurations: name, what puts the catalog in shape, the command that runs the workload.
configurations=(reference untraced traced)
declare -A prepare=([reference]=remove_layer [untraced]=install_layer [traced]=install_layer)
# The stand-in keeps every record in memory, so it traces at Medium: at High it would hold
# every byte of the bulk transfers.
declare -A command=([reference]="$program" [untraced]="$program"
                    [traced]="tracewatch.exe --quiet --detail 1 $program")
declare -A figures=()

# Runs one configuration once, the catalog already in shape; prints its rates as "name value".
run() {
  local output
  # shellcheck disable=SC2086  # the command is words on purpose
  output=$("$build/wine-run" ${command[$1]} "${options[@]}" 2>/dev/null | tr -d '\r')
  if ! echo "$output" | grep -q '_per_s '; then
    echo "run_layer_bench: no figures from: ${command[$1]}" >&2
    echo "$output" >&2
    exit 1
  fi
  echo "$output" | awk 'NF == 2 && $1 ~ /_per_s$/'
}

median() {   # "name value" lines of all rounds in, one "name median" line per name out, sorted
  sort -k1,1 -k2,2g | awk '{ v[$1] = v[$1] " " $2; n[$1]++ }
    END { for (k in v) { split(substr(v[k], 2), a, " "); print k, a[int((n[k] + 1) / 2)] } }' |
    sort
}

for ((round = 0; round < rounds; round++)); do
  order=("${configurations[@]}")
  if ((round % 2)); then
    order=(traced untraced reference)
  fi
  for name in "${order[@]}"; do
    "${prepare[$name]}"
    figures[$name]+=$(run "$name")$'\n'
  done
done
for name in "${configurations[@]}"; do
  figures[$name]=$(echo -n "${figures[$name]}" | grep . | median)
done

# the build tree says which Wine it runs under (cmake/WineTesting.cmake writes wine-arch)
echo "build: $(sed -n 's/^WINEARCH=win\([0-9]*\)$/\1-bit/p' "$build/wine-arch")"
echo "workload: $program ${options[*]}; median of $rounds rounds, run in turn"
printf '%-32s %10s %10s %7s %7s %12s %7s\n' figure "no layer" "layer" ratio "<=$goal" \
  "stand-in" ratio
# One row per figure, in this order; the rest of each row is joined on the figure name.
rows="roundtrip_ops_per_s overlapped_roundtrip_ops_per_s bulk_mb_per_s overlapped_bulk_mb_per_s
      async_select_roundtrip_ops_per_s async_select_relayed_roundtrip_ops_per_s"
join <(echo "${figures[reference]}") <(echo "${figures[untraced]}") |
  join - <(echo "${figures[traced]}") |
  awk -v goal="$goal" -v rows="$rows" '
    function cost(reference, value) { return value > 0 ? reference / value : 0 }
    { line[$1] = $0 }
    END {
      n = split(rows, order, " ")
      for (i = 1; i <= n; i++) {
        if (!(order[i] in line)) continue
        split(line[order[i]], f, " ")
        untraced = cost(f[2], f[3]); traced = cost(f[2], f[4])
        printf "%-32s %10s %10s %7.3f %7s %12s %7.3f\n", f[1], f[2], f[3], untraced,
               (untraced <= goal ? "yes" : "NO"), f[4], traced
      }
    }'
echo "layer: the Kestrix layer installed, no viewer; stand-in: the layer traced at Medium"
echo "ratio = the reference figure divided by this one (the cost); goal with no viewer: at most $goal"
