#!/usr/bin/env bash
# Installs everything Lumora's build, demo and tests need on Debian 12 (as root).
set -euo pipefail

packages=(
  g++ cmake ninja-build git python3
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  googletest clang libclang-rt-14-dev
  wine wine64 xvfb xserver-xephyr xauth x11-utils xdotool imagemagick fonts-noto-cjk
  libvips-tools
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
export DEBIAN_FRONTEND=noninteractive
# The package lists are needed for installing and for the test corpus, which
# fetches test-suite packages with apt-get download.
if [ "${#missing[@]}" -gt 0 ] || ! ls /var/lib/apt/lists/*_Packages >/dev/null 2>&1; then
  apt-get update -qq
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
