#!/usr/bin/env bash
# Makes a fresh Debian 12 machine ready to build and run Kestrix: the mingw-w64 i686 cross
# compiler, CMake, 32-bit Wine with the X client libraries its display driver needs, Xvfb and
# ImageMagick. Idempotent: installs only what is missing and says what that is.
set -euo pipefail

# Root is needed only to install; without it, sudo is used when present.
SUDO=
need_root() {
  [ "$(id -u)" -eq 0 ] && return
  command -v sudo >/dev/null || { echo "setup: run as root to install packages" >&2; exit 1; }
  SUDO=sudo
}

packages=(
  cmake make
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386
  libx11-6:i386 libxext6:i386 libxrender1:i386 libxrandr2:i386 libxi6:i386 libxcursor1:i386
  libxfixes3:i386 libxcomposite1:i386 libxinerama1:i386 libxxf86vm1:i386
  libfreetype6:i386 libfontconfig1:i386 libgnutls30:i386
  xvfb x11-utils imagemagick fonts-dejavu-core fonts-liberation
  googletest
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_root
  echo "setup: adding the i386 architecture"
  $SUDO dpkg --add-architecture i386
  missing+=(update)
fi
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

todo=()
for p in "${missing[@]}"; do [ "$p" = update ] || todo+=("$p"); done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: everything is already installed"
  exit 0
fi
need_root
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
if [ ${#todo[@]} -gt 0 ]; then
  echo "setup: installing ${todo[*]}"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${todo[@]}" >/dev/null
fi
echo "setup: done"
