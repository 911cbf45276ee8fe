#!/usr/bin/env bash
# Installs everything Lumora's build, demo, benchmark and tests need on
# Debian 12 (as root): every command that tools/*.sh, tests/e2e/*.sh and
# .ci/run call, checked at the end.
set -euo pipefail

packages=(
  g++ cmake ninja-build git python3
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  googletest clang libclang-rt-14-dev
  wine wine64 xvfb xserver-xephyr xauth x11-utils xdotool imagemagick fonts-noto-cjk
  fonts-dejavu-core   # the demo pictures' labels
  libjpeg-turbo-progs # cjpeg: JPEG flavours for the hostile corpus
  libvips-tools       # the benchmark's comparison
  icc-profiles-free colord-data libgs-common  # colour profiles for the colour tests (libgs-common: CMYK)
  time procps         # /usr/bin/time (benchmark), pgrep (demo, benchmark)
  osslsigncode openssl  # signing a release, and the release test's throw-away certificate
)
# npm packs the hostile corpus's npm suites. A machine whose Node.js comes
# with its own npm keeps it: Debian's npm conflicts with that Node.js.
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
export DEBIAN_FRONTEND=noninteractive
# The package lists are needed for installing and for the test corpus, which
# fetches test-suite packages with apt-get download.
if [ "${#missing[@]}" -gt 0 ] || ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then
  apt-get update -qq
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

commands=(
  cmake ctest ninja python3 apt-get dpkg-deb tar npm
  x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix x86_64-w64-mingw32-windres
  x86_64-w64-mingw32-objdump i686-w64-mingw32-objdump clang clang++
  wine wineboot wineserver Xvfb Xephyr xdotool convert import cjpeg vips vipsthumbnail
  /usr/bin/time pgrep osslsigncode openssl sha256sum
)
absent=()
for c in "${commands[@]}"; do command -v "$c" >/dev/null || absent+=("$c"); done
if [ "${#absent[@]}" -gt 0 ]; then
  echo "still missing after installing: ${absent[*]}" >&2
  exit 1
fi
