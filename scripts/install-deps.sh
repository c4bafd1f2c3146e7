#!/usr/bin/env bash
# Installs, with apt-get, every Debian 12 package the build and the tests need.
# Idempotent: packages already present are left alone, and apt is not touched
# at all when nothing is missing.
set -euo pipefail

packages=(
  cmake make g++ pkg-config git python3
  googletest libgtest-dev libbenchmark-dev libcli11-dev
  libsndfile1-dev sndfile-programs sox hyperfine time
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 fonts-wine xvfb xauth x11-utils xdotool
  imagemagick fonts-dejavu-core
  gnustep-devel gobjc++
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)
  [[ $status == ii* ]] || missing+=("$p")
done

# wine32 is an i386 package; the architecture must be enabled before apt can see it.
need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

if [[ ${#missing[@]} -eq 0 && $need_i386 -eq 0 ]]; then
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "run as root:" >&2
  [[ $need_i386 -eq 1 ]] && echo "  dpkg --add-architecture i386" >&2
  echo "  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}" >&2
  exit 1
fi

[[ $need_i386 -eq 1 ]] && dpkg --add-architecture i386
echo "install-deps: installing ${missing[*]}"
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
