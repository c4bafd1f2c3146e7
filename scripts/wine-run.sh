#!/usr/bin/env bash
# The cross-compiling emulator: runs a Windows program under Wine in the
# project's prefix for its architecture, making the prefix first if needed.
#   scripts/wine-run.sh win32|win64 PROGRAM [ARGUMENT...]
set -euo pipefail
source "$(dirname "$0")/wine-env.sh" "$1"
shift
[[ -f $WINEPREFIX/.kova-ready ]] || "$KOVA_ROOT/scripts/wine-prefix.sh" "$KOVA_WINE_ARCH"
# Wine keeps this process, so a test can have it stopped from outside.
export KOVA_WINE_UNIX_PID=$$
exec "$WINELOADER" "$@"
