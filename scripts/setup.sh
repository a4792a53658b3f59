#!/usr/bin/env bash
# Makes a fresh Debian 12 machine ready to build and run Kestrix: the mingw-w64 cross compilers
# for x86-64 and i686, CMake, 64-bit Wine with the X client libraries its display driver needs,
# Xvfb, ImageMagick and tshark (Wireshark's reader, for the pcapng tests; its question whether
# non-root users may capture is answered with the default, no); and where this kernel runs 32-bit
# programs (scripts/probe-32bit.sh), 32-bit Wine and its X libraries too, so that the 32-bit
# build is tested as well.
# Idempotent: installs only what is missing and says what that is.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# Root is needed only to install; without it, sudo is used when present.
SUDO=
need_root() {
  [ "$(id -u)" -eq 0 ] && return
  command -v sudo >/dev/null || { echo "setup: run as root to install packages" >&2; exit 1; }
  SUDO=sudo
}

packages=(
  cmake make
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine64 libwine
  libx11-6 libxext6 libxrender1 libxrandr2 libxi6 libxcursor1 libxfixes3 libxcomposite1
  libxinerama1 libxxf86vm1 libfreetype6 libfontconfig1 libgnutls30
  xvfb x11-utils imagemagick fonts-dejavu-core fonts-liberation zip unzip
  googletest
  tshark
)
# 32-bit Wine is itself a 32-bit Linux program: only worth installing where the kernel runs one.
packages32=(
  wine32:i386
  libx11-6:i386 libxext6:i386 libxrender1:i386 libxrandr2:i386 libxi6:i386 libxcursor1:i386
  libxfixes3:i386 libxcomposite1:i386 libxinerama1:i386 libxxf86vm1:i386
  libfreetype6:i386 libfontconfig1:i386 libgnutls30:i386
)

need_update=false
if bash "$here/probe-32bit.sh" --quiet; then
  echo "setup: this kernel runs 32-bit programs: 32-bit Wine is wanted too"
  packages+=("${packages32[@]}")
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    need_root
    echo "setup: adding the i386 architecture"
    $SUDO dpkg --add-architecture i386
    need_update=true
  fi
else
  echo "setup: this kernel runs no 32-bit programs: the 32-bit build is compiled and checked, not run"
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
todo=()
for p in "${packages[@]}"; do installed "$p" || todo+=("$p"); done
if [ ${#todo[@]} -eq 0 ] && ! $need_update; then
  echo "setup: everything is already installed"
  exit 0
fi
need_root
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
if [ ${#todo[@]} -gt 0 ]; then
  echo "setup: installing ${todo[*]}"
  if ! $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${todo[@]}" >/dev/null; then
    for p in "${todo[@]}"; do
      if [ -z "$(apt-cache policy "$p" 2>/dev/null | sed -n 's/^ *Candidate: //p' | grep -v '(none)')" ]; then
        echo "setup: the package $p is not available from this machine's package sources" >&2
      fi
    done
    echo "setup: could not install ${todo[*]}" >&2
    exit 1
  fi
fi
echo "setup: done"
