#!/usr/bin/env bash
# Builds every preset and runs every test suite, stopping loudly at the first
# failure. The Windows suites run under Wine, the GUI ones inside Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

step() { printf '\n==== %s\n' "$*"; }

for preset in linux linux-asan win32; do
  step "build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
done

step "test linux"
scripts/with-xvfb.sh ctest --test-dir build/linux --output-on-failure -j"$jobs"

step "test linux-asan"
scripts/with-xvfb.sh ctest --test-dir build/linux-asan --output-on-failure -j"$jobs"

step "test win32 (Wine)"
source scripts/wine-env.sh
run_wine_tests() {
  scripts/wine-prefix.sh
  local rc=0
  ctest --test-dir build/win32 --output-on-failure || rc=$?
  wineserver -k 2>/dev/null || true
  return $rc
}
export -f run_wine_tests
scripts/with-xvfb.sh bash -c run_wine_tests

step "all tests passed"
