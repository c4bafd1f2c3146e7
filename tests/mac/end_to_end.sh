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
fail() { echo "FAIL: $*" >&2; echo "--- application log" >&2; cat "$work/app.log" >&2 || true; exit 1; }

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

find_window() { timeout 10 xdotool search --sync --onlyvisible --name "$1" | head -1; }
gone() {
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.05
  done
  return 1
}
wait_size() {
  for _ in $(seq 200); do
    [[ -f $1 && $(stat -c %s "$1") -eq $2 ]] && return 0
    sleep 0.05
  done
  fail "$1 never reached $2 bytes"
}

main=$(find_window '^KOVA Generator$') || fail "no main window"
menu=$(find_window '^KOVA-mac$') || fail "no main menu"
sleep 0.3

# A press long enough for GNUstep's controls to start tracking the mouse
# before the button comes up again.
click() {
  xdotool mousemove --window "$1" "$2" "$3" mousedown 1
  sleep 0.15
  xdotool mouseup 1
  sleep 0.2
}
# Points in the main window's X window: the content (MainMenu.xib) lies 1
# pixel right of and 23 below its corner, under GNUstep's title bar.
rate_list() { click "$main" 168 50; }  # the combo boxes' arrow buttons
duration_list() { click "$main" 168 90; }
press_generate() { click "$main" 251 73; }  # the "Generate..." button
# The NeXT-style main menu: File opens its submenu to the right.
menu_generate() { click "$menu" 20 50; click "$menu" 170 30; }
menu_quit() { click "$menu" 40 70; }

save_as() {
  find_window '^Save$' >/dev/null || fail "no save panel"
  xdotool type --delay 20 "$1"
  xdotool key Return
  gone '^Save$' || fail "save panel stayed open"
}

expected() {
  "$kova_gen" -q -f -r "$1" -d "$2" -o "$work/kova-gen-$1-$2.wav" || return 1
  echo "$work/kova-gen-$1-$2.wav"
}

# Defaults straight after launch: 44.1 kHz, 1 second.
press_generate
save_as defaults.wav
want=$(expected 44100 1) || fail "kova-gen failed"
wait_size defaults.wav "$(stat -c %s "$want")"
cmp defaults.wav "$want" || fail "defaults.wav differs from kova-gen's"

# A cancelled panel writes nothing.
press_generate
find_window '^Save$' >/dev/null || fail "no save panel"
xdotool key Escape
gone '^Save$' || fail "save panel stayed open after Escape"
[[ $(ls) == defaults.wav ]] || fail "cancel left files: $(ls)"

# 96 kHz (fourth entry) and 10 Seconds (second entry), then the button.
rate_list
xdotool key Down Down Down Return
duration_list
xdotool key Down Return
sleep 0.2
press_generate
save_as button.wav
want=$(expected 96000 10) || fail "kova-gen failed"
wait_size button.wav 2880044
cmp button.wav "$want" || fail "button.wav differs from kova-gen's"

# The same through the menu item.
menu_generate
save_as menu.wav
wait_size menu.wav 2880044
cmp menu.wav button.wav || fail "menu.wav differs from button.wav"

# Closing the window leaves the application running; Quit ends it.
xdotool key --window "$main" alt+w
gone '^KOVA Generator$' || fail "window did not close"
sleep 0.5
kill -0 "$pid" 2>/dev/null || fail "closing the window ended the application"
menu_quit
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
status=0
wait "$pid" || status=$?
pid=
[[ $status -eq 0 ]] || fail "exit status $status after Quit"

# Nothing logged. GNUstep's X backend reports one BadWindow error of its own
# when the interface description shows the window; that report is not ours.
log=$(sed '/X-Windows error - BadWindow/,/request code:/d' "$work/app.log")
[[ -z $log ]] || fail "the application logged: $log"
echo "end to end: defaults, cancel, button and menu item all as kova-gen writes"
