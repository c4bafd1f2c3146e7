#!/usr/bin/env bash
# Runs KOVA-mac.app (built against GNUstep) in a private Xvfb and saves a
# picture of its window as docs/screenshots/gnustep.png.
# Needs the linux preset built (cmake --preset linux && cmake --build build/linux).
# KOVA_BUILD_DIR names another build, KOVA_SCREENSHOT_DIR another folder.
set -euo pipefail
cd "$(dirname "$0")/.."

app=${KOVA_BUILD_DIR:-build/linux}/bin/KOVA-mac.app/KOVA-mac
out=${KOVA_SCREENSHOT_DIR:-docs/screenshots}
[[ -x $app ]] || { echo "screenshot-mac: $app is missing; build the linux preset first" >&2; exit 1; }
if [[ -z ${KOVA_SCREENSHOT_DISPLAY:-} ]]; then
  exec scripts/with-xvfb.sh env KOVA_SCREENSHOT_DISPLAY=1 "$0" "$@"
fi
mkdir -p "$out"

# GNUstep's per-user state goes to a scratch folder; with no window manager
# running, GNUstep draws the window's title bar itself.
state=$(mktemp -d)
mkdir -p "$state/Defaults"
printf '{\n  GSX11HandlesWindowDecorations = NO;\n  GSSuppressAppIcon = YES;\n}\n' >"$state/Defaults/NSGlobalDomain.plist"
printf 'GNUSTEP_USER_DEFAULTS_DIR=%s\nGNUSTEP_USER_DIR_LIBRARY=%s\n' "$state/Defaults" "$state/Library" >"$state/GNUstep.conf"
export GNUSTEP_CONFIG_FILE=$state/GNUstep.conf

"$app" 2>/dev/null &
kova=$!
cleanup() {
  kill "$kova" 2>/dev/null || true
  wait "$kova" 2>/dev/null || true
  rm -rf "$state"
}
trap cleanup EXIT

# The window once painting has stopped: drawn (more than one colour), and
# the same picture twice in a row.
steady() {
  local deadline=$((SECONDS + 30)) last='' now
  while (( SECONDS < deadline )); do
    now=$(import -window "$1" -format '%k %#' info: 2>/dev/null || true)
    [[ -n $now && ${now%% *} -gt 1 && $now == "$last" ]] && return 0
    last=$now
    sleep 0.2
  done
  echo "screenshot-mac: the window was still changing after 30 s" >&2
  exit 1
}

window=$(timeout 20 xdotool search --sync --onlyvisible --name '^KOVA Generator$' | head -1)
steady "$window"
import -window "$window" -strip "$out/gnustep.png"
echo "screenshot-mac: wrote $out/gnustep.png"
