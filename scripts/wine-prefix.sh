#!/usr/bin/env bash
# Makes the private Wine prefix of one architecture once, and starts a
# persistent wineserver so each test does not pay for its start-up (and
# ctest's pipe is not held open by a wineserver that a test happened to start).
#   scripts/wine-prefix.sh win32|win64
set -euo pipefail
source "$(dirname "$0")/wine-env.sh" "${1:-}"

if [[ ! -f $WINEPREFIX/.kova-ready ]]; then
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  "$WINELOADER" wineboot -i >/dev/null 2>&1
  # Unmanaged windows: without this every hidden window costs seconds under Xvfb.
  "$WINELOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  # Caption buttons need the Marlett font.
  if [[ -f /usr/share/wine/fonts/marlett.ttf ]]; then
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  fi
  "$WINESERVER" -w
  touch "$WINEPREFIX/.kova-ready"
fi

"$WINESERVER" -p >/dev/null 2>&1 </dev/null
"$WINELOADER" wineboot >/dev/null 2>&1 </dev/null
