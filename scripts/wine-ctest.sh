#!/usr/bin/env bash
# Runs one Windows build's tests, build/<arch> unless --test-dir names
# another build of that architecture, under that architecture's Wine loader
# and prefix; needs a display (scripts/with-xvfb.sh gives one).
#   scripts/wine-ctest.sh win32|win64 [--test-dir DIR] [CTEST_ARGUMENT...]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh "$1"
shift
test_dir=build/$KOVA_WINE_ARCH
if [[ ${1:-} == --test-dir ]]; then
  test_dir=${2:?wine-ctest: --test-dir needs a folder}
  shift 2
fi
scripts/wine-prefix.sh "$KOVA_WINE_ARCH"
rc=0
ctest --test-dir "$test_dir" --output-on-failure "$@" || rc=$?
# The persistent server would otherwise outlive the display.
"$WINESERVER" -k 2>/dev/null || true
exit $rc
