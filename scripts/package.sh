#!/usr/bin/env bash
# Builds the native and both Windows presets and makes, with CPack, the two
# packages in build/packages/: kova-generator_<version>_amd64.deb and
# KOVA-Generator-<version>-windows.zip (the 32-bit and 64-bit programs).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

for preset in linux win32 win64; do
  printf '\n==== build %s\n' "$preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
done

out=$PWD/build/packages
rm -rf "$out"
mkdir -p "$out"

printf '\n==== package\n'
cpack --config build/linux/CPackConfig.cmake -B "$out"
# The ZIP's configuration is the 64-bit build's; CPack installs both builds
# into it, each naming its own program.
cpack --config build/win64/CPackConfig.cmake -B "$out" \
  -D "CPACK_INSTALL_CMAKE_PROJECTS=$PWD/build/win32;KOVA;ALL;/;$PWD/build/win64;KOVA;ALL;/"
rm -rf "$out/_CPack_Packages"
ls -l "$out"
