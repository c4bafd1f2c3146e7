#!/usr/bin/env bash
# The cross-compiling emulator: runs a Windows program under Wine in the
# project's prefix, making the prefix first if needed.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
[[ -f $WINEPREFIX/.kova-ready ]] || "$KOVA_ROOT/scripts/wine-prefix.sh"
exec wine "$@"
