#!/usr/bin/env bash
# Runs one Windows build's tests, build/<arch>, under that architecture's
# Wine loader and prefix; needs a display (scripts/with-xvfb.sh gives one).
#   scripts/wine-ctest.sh win32|win64 [CTEST_ARGUMENT...]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh "$1"
shift
scripts/wine-prefix.sh "$KOVA_WINE_ARCH"
rc=0
ctest --test-dir "build/$KOVA_WINE_ARCH" --output-on-failure "$@" || rc=$?
# The persistent server would otherwise outlive the display.
"$WINESERVER" -k 2>/dev/null || true
exit $rc
