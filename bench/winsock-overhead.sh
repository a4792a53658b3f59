#!/usr/bin/env bash
# What the drop-in Winsock layer costs with no layered provider: runs the baseline socket
# workload (bench_sockets.exe) under Wine's own ws2_32 and under the drop-in, and prints both
# figures and their ratio (drop-in cost against Wine's own; 1.00 means no overhead, the goal is
# at most 1.30).
#   bench/winsock-overhead.sh [--build DIR] [--rounds N] [bench_sockets options...]
# The two are run in turn, N rounds (default 3), and each figure is the median over the rounds,
# so that load from other processes falls on both alike.
# DIR is a build tree with the winsock and bench folders built (default: $KESTRIX_BUILD or build/).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${KESTRIX_BUILD:-$here/../build}
if [ "${1:-}" = "--build" ]; then
  build=$2
  shift 2
fi
rounds=3
if [ "${1:-}" = "--rounds" ]; then
  rounds=$2
  shift 2
fi
build=$(cd "$build" && pwd)
bin=$build/bin
options=("$@")
[ ${#options[@]} -gt 0 ] || options=(--roundtrips 5000 --bulk-mib 32 --runs 1)
for needed in bench_sockets.exe ws2_32.dll basewsp.dll wscatalog.exe; do
  [ -f "$bin/$needed" ] || { echo "winsock-overhead: $bin/$needed is missing" >&2; exit 1; }
done
bash "$here/../scripts/wine-session.sh" start "$build" >/dev/null
cd "$bin"

# With a layer installed the figures would measure the layer, not the drop-in.
if WINEDLLOVERRIDES="ws2_32=n,b" "$build/wine-run" wscatalog.exe list | tr -d '\r' |
     awk '$2 == "chain" && ($3 == 0 || $3 > 1) {found = 1} END {exit !found}'; then
  echo "winsock-overhead: the catalog holds a layered provider; remove it first (wscatalog list)" >&2
  exit 1
fi

figures() {   # runs the workload once with the given overrides; prints "name value" lines
  local output
  output=$(WINEDLLOVERRIDES="$1" "$build/wine-run" bench_sockets.exe "${options[@]}" | tr -d '\r')
  if ! echo "$output" | grep -q '^roundtrip_ops_per_s '; then
    echo "winsock-overhead: bench_sockets gave no figures:" >&2
    echo "$output" >&2
    exit 1
  fi
  echo "$output" | awk 'NF == 2 && $1 ~ /_(per_s|us)$/'
}

median() {   # "name value" lines of all rounds in, one "name median" line per name out
  sort -k1,1 -k2,2g | awk '{ v[$1] = v[$1] " " $2; n[$1]++ }
    END { for (k in v) { split(substr(v[k], 2), a, " "); print k, a[int((n[k] + 1) / 2)] } }'
}

wine_own=""
dropin=""
for ((round = 0; round < rounds; round++)); do
  wine_own+=$(figures "")$'\n'
  dropin+=$(figures "ws2_32=n,b")$'\n'
done
wine_own=$(echo -n "$wine_own" | grep . | median)
dropin=$(echo -n "$dropin" | grep . | median)

# the build tree says which Wine it runs under (cmake/WineTesting.cmake writes wine-arch)
echo "build: $(sed -n 's/^WINEARCH=win\([0-9]*\)$/\1-bit/p' "$build/wine-arch")"
echo "bench_sockets ${options[*]}; median of $rounds rounds, run in turn"
printf '%-32s %14s %14s %8s\n' figure "Wine's own" drop-in ratio
# Rates (per_s) cost more when lower, times (us) when higher; the ratio is always the
# drop-in's cost over Wine's own.
join <(echo "$wine_own" | sort) <(echo "$dropin" | sort) |
  awk '{ ratio = ($1 ~ /_per_s$/) ? ($3 > 0 ? $2 / $3 : 0) : ($2 > 0 ? $3 / $2 : 0);
         printf "%-32s %14s %14s %8.2f\n", $1, $2, $3, ratio }'
