#!/usr/bin/env bash
# Runs KOVA.exe under Wine in a private Xvfb and saves pictures of its window:
#   docs/screenshots/windows.png          the window as it opens
#   docs/screenshots/windows-96k-open.png the sample-rate list open on 96 kHz
#   scripts/screenshot-win.sh [win32|win64]
# Takes the 32-bit program where this kernel runs i386 programs, else the
# 64-bit one (they draw the same window); the argument chooses. Needs that
# preset built (cmake --preset win32 && cmake --build build/win32).
# KOVA_BUILD_DIR names another build, KOVA_SCREENSHOT_DIR another folder.
set -euo pipefail
cd "$(dirname "$0")/.."

arch=${1:-}
if [[ -z $arch ]]; then
  arch=win64
  /usr/lib/wine/wine --version >/dev/null 2>&1 && arch=win32
fi
exe=${KOVA_BUILD_DIR:-build/$arch}/bin/KOVA.exe
out=${KOVA_SCREENSHOT_DIR:-docs/screenshots}
[[ -f $exe ]] || { echo "screenshot-win: $exe is missing; build the $arch preset first" >&2; exit 1; }
if [[ -z ${KOVA_SCREENSHOT_DISPLAY:-} ]]; then
  exec scripts/with-xvfb.sh env KOVA_SCREENSHOT_DISPLAY=1 "$0" "$arch"
fi

source scripts/wine-env.sh "$arch"
scripts/wine-prefix.sh "$arch"
mkdir -p "$out"

"$WINELOADER" "$exe" >/dev/null 2>&1 &
kova=$!
cleanup() { kill "$kova" 2>/dev/null || true; "$WINESERVER" -k 2>/dev/null || true; }
trap cleanup EXIT

# steady PREVIOUS WHAT: waits until the picture that import takes with the
# arguments in the array shot has stopped changing (drawn, that is more than
# one colour; the same twice in a row; unlike PREVIOUS unless that is empty)
# and prints its description. WHAT is the complaint after 30 s.
steady() {
  local deadline=$((SECONDS + 30)) last='' now
  while (( SECONDS < deadline )); do
    now=$(import "${shot[@]}" -format '%k %#' info: 2>/dev/null || true)
    [[ -n $now && ${now%% *} -gt 1 && $now == "$last" && $now != "${1:-}" ]] && { echo "$now"; return 0; }
    last=$now
    sleep 0.2
  done
  echo "screenshot-win: $2 (waited 30 s)" >&2
  exit 1
}

window=$(timeout 30 xdotool search --sync --onlyvisible --name '^KOVA Generator 1\.1$' | head -1)
shot=(-window "$window")
steady "" "the window was still changing" >/dev/null
import -window "$window" "$out/windows.png"

# Wine draws the frame itself, so the client area starts below the caption and
# the menu bar: find that offset from the X window's size, which is the
# program's outer size of 320 x 185 pixels.
eval "$(xdotool getwindowgeometry --shell "$window")"
client_top=$(( HEIGHT - 142 - 4 ))  # below: picture 142 high, bottom border ~4
xdotool mousemove --window "$window" $(( 75 + 50 )) $(( client_top + 20 )) click 1

# The open list is a window of its own below the main window: take the
# screen area that holds both.
deadline=$((SECONDS + 30))
until (( $(xdotool search --onlyvisible --classname 'kova.exe' 2>/dev/null | wc -l) > 1 )); do
  (( SECONDS < deadline )) || { echo "screenshot-win: the sample-rate list did not open (waited 30 s)" >&2; exit 1; }
  sleep 0.05
done
left=$X top=$Y right=$(( X + WIDTH )) bottom=$(( Y + HEIGHT ))
for id in $(xdotool search --onlyvisible --classname 'kova.exe'); do
  eval "$(xdotool getwindowgeometry --shell "$id")"
  (( X < left )) && left=$X
  (( Y < top )) && top=$Y
  (( X + WIDTH > right )) && right=$(( X + WIDTH ))
  (( Y + HEIGHT > bottom )) && bottom=$(( Y + HEIGHT ))
done
shot=(-window root -crop "$(( right - left ))x$(( bottom - top ))+$left+$top" +repage)
open_list=$(steady "" "the open list was still changing")
xdotool key Down Down Down
steady "$open_list" "the open list did not change after the keys" >/dev/null
import "${shot[@]}" "$out/windows-96k-open.png"
xdotool key Escape
echo "screenshot-win: wrote $out/windows.png and $out/windows-96k-open.png from the $arch program"
