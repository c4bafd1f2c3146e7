#!/usr/bin/env bash
# Drives KOVA-mac.app as a user would, on the X display in DISPLAY: generate
# with the defaults, cancel the panel, pick 96 kHz and 10 Seconds, generate
# with the button and again with the menu item, close the window, quit.
# Every file must equal kova-gen's; the application must log nothing.
#   end_to_end.sh KOVA-mac-executable kova-gen-executable
set -euo pipefail
app=$1
kova_gen=$2
: "${DISPLAY:?needs an X display (run under scripts/with-xvfb.sh)}"
command -v import >/dev/null || { echo "FAIL: needs ImageMagick's import (scripts/install-deps.sh installs it)" >&2; exit 1; }

work=$(mktemp -d "$PWD/end_to_end.XXXXXX")
pid=
cleanup() {
  if [[ -n $pid ]]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  [[ -z $pid ]] || kill -0 "$pid" 2>/dev/null || echo "(the application is no longer running)" >&2
  echo "--- application log" >&2
  cat "$work/app.log" >&2 || true
  exit 1
}

# Fresh GNUstep state for this run; GNUstep draws its own window frames,
# there being no window manager.
mkdir -p "$work/gnustep/Defaults" "$work/out"
printf '{\n  GSX11HandlesWindowDecorations = NO;\n  GSSuppressAppIcon = YES;\n}\n' \
  >"$work/gnustep/Defaults/NSGlobalDomain.plist"
printf 'GNUSTEP_USER_DEFAULTS_DIR=%s\nGNUSTEP_USER_DIR_LIBRARY=%s\n' \
  "$work/gnustep/Defaults" "$work/gnustep/Library" >"$work/GNUstep.conf"
export GNUSTEP_CONFIG_FILE=$work/GNUstep.conf

# The save panel opens in the working folder.
cd "$work/out"
"$app" 2>"$work/app.log" &
pid=$!

# wait_until WHAT COMMAND...: runs COMMAND every 50 ms until it succeeds, and
# fails the test with WHAT when 30 s pass first: generous for a loaded
# machine, and an idle one goes on as soon as the condition holds.
wait_until() {
  local what=$1 deadline=$((SECONDS + 30))
  shift
  until "$@"; do
    (( SECONDS < deadline )) || fail "$what (waited 30 s)"
    sleep 0.05
  done
}
# The first visible window named $1, if any. xdotool dies of a BadWindow
# when a window goes away while it looks through them all (GNUstep's own
# windows come and go); that is no answer, so it is asked again.
window_named() {
  local out
  for _ in 1 2 3 4 5; do
    out=$(xdotool search --onlyvisible --name "$1" 2>&1) || true
    [[ $out == *"X Error"* ]] && continue
    [[ $out =~ ^[0-9]+ ]] && echo "${BASH_REMATCH[0]}"
    return 0
  done
  fail "xdotool kept failing while looking for $1: $out"
}
visible() { [[ -n $(window_named "$1") ]]; }
hidden() { ! visible "$1"; }
find_window() {
  wait_until "no window named $1" visible "$1"
  window_named "$1"
}
# Keys go to the window holding the X input focus, which GNUstep hands to a
# panel only some time after showing it.
has_focus() {
  local id
  id=$(window_named "$1")
  [[ -n $id && $(xdotool getwindowfocus -f 2>/dev/null) == "$id" ]]
}
has_size() { [[ -f $1 && $(stat -c %s "$1") -eq $2 ]]; }
running() { kill -0 "$pid" 2>/dev/null; }
ended() { ! running; }

main=$(find_window '^KOVA Generator$')
menu=$(find_window '^KOVA-mac$')

# A window is mapped before GNUstep has drawn it, all at once: until then it
# is one flat colour.
drawn() { (( $(import -window "$1" -format %k info: 2>/dev/null || echo 0) > 1 )); }
# GNUstep's controls take a click only if the button is still down when they
# start following the mouse, which they show by drawing themselves pressed:
# press, wait until the pixels around the point change, release.
spot() { import -window "$1" -crop "15x15+$(( $2 - 7 ))+$(( $3 - 7 ))" +repage rgb:- | md5sum; }
spot_changed() { local now; now=$(spot "$1" "$2" "$3") && [[ $now != "$4" ]]; }
click() {
  local before
  wait_until "window $1 was never drawn" drawn "$1"
  before=$(spot "$1" "$2" "$3") || fail "cannot read window $1"
  xdotool mousemove --window "$1" "$2" "$3" mousedown 1 || fail "cannot click in window $1"
  wait_until "the control at $2,$3 in window $1 never showed it was pressed" spot_changed "$1" "$2" "$3" "$before"
  xdotool mouseup 1
}
# Points in the main window's X window: the content (MainMenu.xib) lies 1
# pixel right of and 23 below its corner, under GNUstep's title bar.
press_generate() { click "$main" 251 73; }  # the "Generate..." button
# The combo boxes' lists and the File submenu are untitled GNUstep windows.
popup='^Window$'

# The picture of a combo box's text, left of its arrow button at height $1:
# what the box shows, whatever the list below it does.
box_picture() { import -window "$main" -crop "80x14+78+$(( $1 - 6 ))" +repage rgb:- | md5sum; }
box_changed() { local now; now=$(box_picture "$1") && [[ $now != "$2" ]]; }

# choose WHAT ARROW_Y KEY...: opens a list with its arrow button, moves down
# with the keys and takes the entry with Return. The list must open before
# the keys go, close after Return, and leave the box showing another entry.
choose() {
  local what=$1 y=$2 before
  shift 2
  click "$main" 168 "$y"
  wait_until "the $what list did not open" visible "$popup"
  before=$(box_picture "$y")
  xdotool key "$@" Return
  wait_until "the $what list stayed open after Return" hidden "$popup"
  wait_until "the $what box still shows its old entry: the selection did not land" box_changed "$y" "$before"
}

save_as() {
  wait_until "no save panel for $1" visible '^Save$'
  wait_until "the save panel for $1 never took the keyboard" has_focus '^Save$'
  xdotool type --delay 20 "$1"
  xdotool key Return
  wait_until "the save panel for $1 stayed open" hidden '^Save$'
}

expected() {
  "$kova_gen" -q -f -r "$1" -d "$2" -o "$work/kova-gen-$1-$2.wav" || return 1
  echo "$work/kova-gen-$1-$2.wav"
}

# Defaults straight after launch: 44.1 kHz, 1 second.
press_generate
save_as defaults.wav
want=$(expected 44100 1) || fail "kova-gen failed"
wait_until "defaults.wav never reached the size of kova-gen's" has_size defaults.wav "$(stat -c %s "$want")"
cmp defaults.wav "$want" || fail "defaults.wav differs from kova-gen's"

# A cancelled panel writes nothing.
press_generate
wait_until "no save panel to cancel" visible '^Save$'
wait_until "the save panel to cancel never took the keyboard" has_focus '^Save$'
xdotool key Escape
wait_until "save panel stayed open after Escape" hidden '^Save$'
[[ $(ls) == defaults.wav ]] || fail "cancel left files: $(ls)"

# 96 kHz (fourth entry) and 10 Seconds (second entry), then the button.
choose sample-rate 50 Down Down Down
choose duration 90 Down
press_generate
save_as button.wav
want=$(expected 96000 10) || fail "kova-gen failed"
wait_until "button.wav never reached 2880044 bytes" has_size button.wav 2880044
cmp button.wav "$want" || fail "button.wav differs from kova-gen's"

# The same through the menu item: the NeXT-style main menu, whose File item
# opens its submenu to the right.
click "$menu" 20 50
file_menu=$(find_window "$popup")
click "$file_menu" 40 30  # Generate...
save_as menu.wav
wait_until "menu.wav never reached 2880044 bytes" has_size menu.wav 2880044
cmp menu.wav button.wav || fail "menu.wav differs from button.wav"

# Closing the window leaves the application running: with the window gone
# its menu still draws Info pressed (and opens its submenu).
xdotool key --window "$main" alt+w
wait_until "window did not close" hidden '^KOVA Generator$'
running || fail "closing the window ended the application"
click "$menu" 20 30
running || fail "closing the window ended the application"
click "$menu" 40 70  # Quit
wait_until "the application did not end after Quit" ended
status=0
wait "$pid" || status=$?
pid=
[[ $status -eq 0 ]] || fail "exit status $status after Quit"

# Nothing logged. GNUstep's X backend reports one BadWindow error of its own
# when the interface description shows the window; that report is not ours.
log=$(sed '/X-Windows error - BadWindow/,/request code:/d' "$work/app.log")
[[ -z $log ]] || fail "the application logged: $log"
echo "end to end: defaults, cancel, button and menu item all as kova-gen writes"
