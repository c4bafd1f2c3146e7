#!/usr/bin/env bash
# Runs a command with DISPLAY set to a private Xvfb server, then stops it.
set -euo pipefail
fifo=$(mktemp -u)
mkfifo "$fifo"
# -noreset: by default the server resets whenever its last client leaves, and
# a program that connects during the reset is refused ("Unable to connect to
# X Server"); one test after another leaving and connecting hits that now
# and then.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
read -r display <"$fifo"
rm -f "$fifo"
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null || true' EXIT
export DISPLAY=:$display
"$@"
