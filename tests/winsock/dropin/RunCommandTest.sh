#!/usr/bin/env bash
# scripts/ws2run.sh runs a program that lives outside the build folder under the drop-in, and
# leaves that program's folder as it was; without it the same program gets Wine's own ws2_32.
#   RunCommandTest.sh SOURCE_DIR BUILD_DIR
set -u
source_dir=$1
build=$2
folder=$(mktemp -d "${TMPDIR:-/tmp}/ws2run-test.XXXXXX")
trap 'rm -rf "$folder"' EXIT
cp "$build/bin/catalog_worker.exe" "$folder/"
failed=0

bash "$source_dir/scripts/ws2run.sh" --build "$build" "$folder/catalog_worker.exe" dropin
code=$?
[ $code -eq 0 ] || { echo "FAILED: under ws2run.sh the program did not see the drop-in (exit $code)"; failed=1; }
[ "$(ls "$folder")" = "catalog_worker.exe" ] || { echo "FAILED: ws2run.sh left files in the program's folder: $(ls "$folder")"; failed=1; }

WINEDLLOVERRIDES= "$build/wine-run" "$folder/catalog_worker.exe" dropin
code=$?
[ $code -eq 4 ] || { echo "FAILED: without ws2run.sh the program should see Wine's own catalog (exit $code, expected 4)"; failed=1; }

bash "$source_dir/scripts/ws2run.sh" --build "$build" "$folder/missing.exe" 2>/dev/null
[ $? -ne 0 ] || { echo "FAILED: a missing program must give a non-zero exit"; failed=1; }
[ $failed -eq 0 ] && echo "ws2run.sh: all checks passed"
exit $failed
