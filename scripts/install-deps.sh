#!/usr/bin/env bash
# Installs, with apt-get, the Debian 12 packages one job needs:
#   run      build and run kova-gen (make run)
#   package  build every deliverable, make the .deb and the Windows ZIP and
#            check them (make package; scripts/test-packages.sh)
#   test     all of that, plus what the test suites and benchmarks run:
#            Wine, Xvfb, xdotool, sox, ffmpeg, clang's libFuzzer... (make test,
#            make bench, make fuzz; the default)
# Idempotent: packages already present are left alone, and apt is not touched
# at all when nothing is missing.
set -euo pipefail

set_name=${1:-test}

run=(cmake make g++ libcli11-dev)
package=(
  "${run[@]}" pkg-config python3
  googletest libgtest-dev libbenchmark-dev libsndfile1-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  gnustep-core-devel gobjc++
  help2man icoutils dpkg-dev lintian file man-db unzip
  portaudio19-dev libasound2-dev libjack-jackd2-dev
)
test=(
  "${package[@]}" git gnustep-devel
  sndfile-programs sox ffmpeg hyperfine time
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  wine wine32:i386 wine64 fonts-wine xvfb xauth x11-utils xdotool
  imagemagick libmagickcore-6.q16-6-extra fonts-dejavu-core clang
  jackd2 pulseaudio pulseaudio-utils libasound2-plugins
  clang-14 libclang-rt-14-dev clang-format-14
)

case $set_name in
  run) packages=("${run[@]}") ;;
  package) packages=("${package[@]}") ;;
  test) packages=("${test[@]}") ;;
  *) echo "usage: $0 [run|package|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)
  [[ $status == ii* ]] || missing+=("$p")
done

# An i386 package (wine32) needs the architecture enabled before apt can see it.
need_i386=0
if [[ " ${packages[*]} " == *:i386\ * ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_i386=1
fi

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
echo "install-deps ($set_name): installing ${missing[*]}"
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
