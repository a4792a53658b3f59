#!/usr/bin/env bash
# Makes a fresh Debian 12 machine ready to build and run Kestrix: the mingw-w64 i686 cross
# compiler, CMake, 32-bit Wine with the X client libraries its display driver needs, Xvfb and
# ImageMagick. Idempotent: installs only what is missing and says what that is.
set -euo pipefail

need_root() { [ "$(id -u)" -eq 0 ] || { echo "setup: run as root (or through sudo)" >&2; exit 1; }; }

packages=(
  cmake make
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386
  libx11-6:i386 libxext6:i386 libxrender1:i386 libxrandr2:i386 libxi6:i386 libxcursor1:i386
  libxfixes3:i386 libxcomposite1:i386 libxinerama1:i386 libxxf86vm1:i386
  libfreetype6:i386 libfontconfig1:i386 libgnutls30:i386
  xvfb x11-utils imagemagick fonts-dejavu-core
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_root
  echo "setup: adding the i386 architecture"
  dpkg --add-architecture i386
  missing+=(update)
fi
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# the mingw compiler must use the posix thread model
if ! i686-w64-mingw32-g++-posix --version >/dev/null 2>&1; then missing+=(g++-mingw-w64-i686-posix); fi

todo=()
for p in "${missing[@]}"; do [ "$p" = update ] || todo+=("$p"); done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: everything is already installed"
  exit 0
fi
need_root
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
if [ ${#todo[@]} -gt 0 ]; then
  echo "setup: installing ${todo[*]}"
  apt-get install -y -qq --no-install-recommends "${todo[@]}" >/dev/null
fi
echo "setup: done"
