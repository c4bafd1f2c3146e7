#!/usr/bin/env bash
# Makes the private Wine prefix once, and starts a persistent wineserver so
# each test does not pay for its start-up (and ctest's pipe is not held open
# by a wineserver that a test happened to start).
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

if [[ ! -f $WINEPREFIX/.kova-ready ]]; then
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  wineboot -i >/dev/null 2>&1
  # Unmanaged windows: without this every hidden window costs seconds under Xvfb.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  # Caption buttons need the Marlett font.
  if [[ -f /usr/share/wine/fonts/marlett.ttf ]]; then
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  fi
  wineserver -w
  touch "$WINEPREFIX/.kova-ready"
fi

wineserver -p >/dev/null 2>&1 </dev/null
wine wineboot >/dev/null 2>&1 </dev/null
