#!/usr/bin/env bash
# Finds out whether this kernel runs 32-bit x86 programs, which 32-bit Wine needs: it writes a
# 96-byte static i386 Linux program that only exits with code 32, and runs it. Kernels built or
# booted without 32-bit emulation refuse it with "Exec format error".
#   scripts/probe-32bit.sh [--quiet]
# Exits 0 when the program ran and gave its code, 1 otherwise, and says which. KESTRIX_PROBE_PROGRAM
# names another program to run instead (the tests use one that no kernel runs).
set -u
quiet=false
[ "${1:-}" = "--quiet" ] && quiet=true
say() { $quiet || echo "probe: $*"; }

dir=$(mktemp -d "${TMPDIR:-/tmp}/kestrix-probe.XXXXXX")
trap 'rm -rf "$dir"' EXIT
program=${KESTRIX_PROBE_PROGRAM:-}
if [ -z "$program" ]; then
  program=$dir/exit32
  # ELF header, one loadable segment at 0x08048000, then: mov eax,1; mov ebx,32; int 0x80
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'          >"$program"
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' >>"$program"
  printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' >>"$program"
  printf '\x00\x00\x00\x00'                                                  >>"$program"
  printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' >>"$program"
  printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' >>"$program"
  printf '\xb8\x01\x00\x00\x00\xbb\x20\x00\x00\x00\xcd\x80'                  >>"$program"
  chmod +x "$program"
fi

why=$("$program" 2>&1 </dev/null)
code=$?
if [ $code -eq 32 ]; then
  say "this kernel runs 32-bit programs"
  exit 0
fi
why=${why##*: }
say "this kernel runs no 32-bit programs (a 32-bit test program gave ${why:-exit code $code})"
exit 1
