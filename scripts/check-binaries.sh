#!/usr/bin/env bash
# Checks a build's Windows binaries without running them, so a build that this machine cannot run
# is still checked: each is a PE image of the build's architecture (PE32 for x86, PE32+ for x64),
# imports only system DLLs (no mingw runtime DLL has to sit beside a traced program), each DLL
# exports the names of its .def file undecorated, the viewer's manifest names the build's
# architecture, and the deliverables' version resources name its bitness.
#   scripts/check-binaries.sh BIN_DIR x86|x64
# Prints one line per problem and a closing count; exits 1 when any check fails.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:?usage: check-binaries.sh BIN_DIR x86|x64}
arch=${2:?usage: check-binaries.sh BIN_DIR x86|x64}

case $arch in
  x86) triple=i686-w64-mingw32;   format=pei-i386;   magic="010b"; manifest=x86;   bits=32 ;;
  x64) triple=x86_64-w64-mingw32; format=pei-x86-64; magic="020b"; manifest=amd64; bits=64 ;;
  *) echo "check-binaries: unknown architecture $arch" >&2; exit 2 ;;
esac
objdump=$triple-objdump
strings=$triple-strings
command -v "$objdump" >/dev/null || { echo "check-binaries: $objdump is missing (scripts/setup.sh installs it)" >&2; exit 2; }

# DLLs that every Windows has; anything else imported would have to ship beside the program.
system_dlls=" kernel32.dll user32.dll gdi32.dll advapi32.dll ws2_32.dll comctl32.dll comdlg32.dll
  comdlg32.dll shell32.dll msvcrt.dll ntdll.dll ole32.dll oleaut32.dll shlwapi.dll iphlpapi.dll mswsock.dll
  rpcrt4.dll version.dll riched20.dll ntoskrnl.exe "
# Each DLL that Windows finds by export name, with the .def that lists those names.
declare -A def_files=(
  [kestrixlayer.dll]=provider/kestrixlayer.def
  [ws2_32.dll]=winsock/dropin/ws2_32.def
  [basewsp.dll]=winsock/base/basewsp.def
  [passlayer.dll]=winsock/passlayer/passlayer.def
)
# The calls on the catalog of 32-bit processes: only the 64-bit drop-in has them, as on Windows.
wow32_def=winsock/dropin/ws2_32_wow32.def
# The deliverables, each with a version resource.
deliverables=(kestrix.exe kestrixrun.exe kestrixlayer.dll)

problems=0
checked=0
problem() { echo "check-binaries: $1"; problems=$((problems + 1)); }

# The names a .def file exports: the first word of each line after EXPORTS, without "= target".
def_names() {
  sed -n '/^EXPORTS/,$p' "$1" | sed '1d; s/;.*//' | awk 'NF { print $1 }'
}

shopt -s nullglob
images=("$bin"/*.exe "$bin"/*.dll "$bin"/*.sys)
[ ${#images[@]} -gt 0 ] || { echo "check-binaries: no binaries in $bin" >&2; exit 1; }
for image in "${images[@]}"; do
  name=$(basename "$image")
  checked=$((checked + 1))
  headers=$("$objdump" -p "$image" 2>&1)
  grep -q "file format $format\$" <<<"$headers" || { problem "$name is not $format: $(grep -m1 'file format' <<<"$headers")"; continue; }
  grep -qE "^Magic[[:space:]]+$magic" <<<"$headers" || problem "$name: optional header magic is not $magic"

  while read -r dll; do
    [[ "$system_dlls" == *" ${dll,,} "* ]] || problem "$name imports $dll, which is not a system DLL"
  done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")

  exported=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p')
  if grep -q '@' <<<"$exported"; then
    problem "$name exports decorated names: $(grep '@' <<<"$exported" | head -3 | tr '\n' ' ')"
  fi
  if [ -n "${def_files[$name]:-}" ]; then
    missing=$(comm -23 <(def_names "$top/${def_files[$name]}" | sort -u) <(sort -u <<<"$exported"))
    [ -z "$missing" ] || problem "$name lacks exports of ${def_files[$name]}: $(echo $missing | cut -c1-200)"
  fi
  if [ "$name" = ws2_32.dll ]; then
    wow32_calls=$(grep -c -x -F -f <(sed 's/^ *//; /^;/d; /^$/d' "$top/$wow32_def") <<<"$exported")
    wanted=$([ "$arch" = x64 ] && sed 's/^ *//; /^;/d; /^$/d' "$top/$wow32_def" | wc -l || echo 0)
    [ "$wow32_calls" -eq "$wanted" ] ||
      problem "ws2_32.dll exports $wow32_calls of the calls of $wow32_def, not $wanted"
  fi
done

for name in "${deliverables[@]}"; do
  [ -f "$bin/$name" ] || { problem "$name is missing"; continue; }
  "$strings" -el "$bin/$name" | grep -qx "Kestrix.* ($bits-bit)" ||
    problem "$name: its version resource does not name the $bits-bit build"
done
architectures=$(grep -ao 'processorArchitecture="[^"]*"' "$bin/kestrix.exe" | sort -u)
[ "$architectures" = "processorArchitecture=\"$manifest\"" ] ||
  problem "kestrix.exe: its manifest names ${architectures:-no architecture}, not $manifest only"

echo "check-binaries: $checked $arch binaries in $bin, $problems problems"
[ $problems -eq 0 ]
