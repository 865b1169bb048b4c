#!/usr/bin/env bash
# Installs every system package that building and testing setup.exe needs, as root on Debian.
# Idempotent: a second run installs nothing new. Set WITH_WINE32=0 to skip the 32-bit Wine stack.
#   install-deps.sh          everything: build, tests, both Wines
#   install-deps.sh release  only what a release build needs (compiler, CMake, signing tool)
set -euo pipefail

release_packages=(
  cmake make
  g++-mingw-w64-i686-win32 binutils-mingw-w64
  python3
  osslsigncode
)
packages=(
  "${release_packages[@]}"
  g++-mingw-w64-x86-64-posix mingw-w64-tools
  googletest
  wine64
  xvfb xdotool x11-utils imagemagick
  python3-pytest python3-pefile
  openssl curl
)
if [ "${1:-}" = release ]; then
  packages=("${release_packages[@]}")
  WITH_WINE32=0
fi
packages32=(qemu-user-static wine32:i386)

missing() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

want=("${packages[@]}")
if [ "${WITH_WINE32:-1}" = 1 ]; then
  dpkg --print-foreign-architectures | grep -qx i386 || { dpkg --add-architecture i386; rm -f /var/lib/apt/lists/lock; }
  want+=("${packages32[@]}")
fi

todo=$(missing "${want[@]}")
if [ -n "$todo" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $todo
fi

# 32-bit Linux binaries (Wine's 32-bit loader) run here only through qemu user emulation.
if [ "${WITH_WINE32:-1}" = 1 ]; then
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
  if [ -e "$binfmt/register" ] && [ ! -e "$binfmt/qemu-i386" ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' > "$binfmt/register"
  fi
fi
