#!/usr/bin/env bash
# Builds everything and runs every test under 32-bit Wine.
#   scripts/test.sh [ctest arguments...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build
bash "$top/scripts/build.sh" "$build"
cd "$build"
exec ctest --output-on-failure "$@"
