#!/usr/bin/env bash
# The main job: builds everything, then runs the sample Winsock programs under Wine one after
# another and shows what each did.
#   scripts/demo.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build
bash "$top/scripts/build.sh" "$build"

bash "$top/scripts/wine-session.sh" start "$build" >/dev/null
trap 'bash "$top/scripts/wine-session.sh" stop "$build" >/dev/null' EXIT
cd "$build/bin"

samples=(http_pair tcp_blocking udp ipv6 nonblocking sockopts overlapped async_select event_select
         acceptex transmitfile wsarecvmsg wsa_variants)
failed=()
for sample in "${samples[@]}"; do
  echo
  echo "=== $sample"
  if [ "$sample" = http_pair ]; then
    command=(run_pair.exe http_server.exe http_client.exe)
  else
    command=("$sample.exe")
  fi
  if ! "$build/wine-run" "${command[@]}"; then
    failed+=("$sample")
  fi
done
echo
echo "demo: ${#samples[@]} sample programs run, ${#failed[@]} failed${failed:+: ${failed[*]}}"
[ ${#failed[@]} -eq 0 ]
