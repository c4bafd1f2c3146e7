#!/usr/bin/env bash
# Times kova-check.exe under Wine's 64-bit loader against the Linux
# kova-check on the largest test file (192 kHz, 1 h, 2,073,600,044 bytes),
# side by side in one hyperfine run with the page cache warm, and prints the
# ratio; Wine's start (a server already running) is in the Windows figure,
# and timed alone (--version) to be taken out of it.
# The two reports must be the same, byte for byte.
#   KOVA_BIN=build/linux/bin KOVA_WIN_BIN=build/win64/bin scripts/bench-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${KOVA_BIN:-build/linux/bin}
win_bin=${KOVA_WIN_BIN:-build/win64/bin}
runs=${RUNS:-5}
for exe in "$bin/kova-gen" "$bin/kova-check" "$win_bin/kova-check.exe"; do
  [[ -x $exe ]] || { echo "bench-windows: build $exe first (make bench)" >&2; exit 1; }
done
source scripts/wine-env.sh win64
scripts/wine-prefix.sh win64

dir=$(mktemp -d "${TMPDIR:-/tmp}/kova-bench-windows-XXXXXX")
trap 'rm -rf "$dir"; "$WINESERVER" -k 2>/dev/null || true' EXIT
"$bin/kova-gen" -q -r 192000 -d 1h -o "$dir/k.wav"
"$bin/kova-check" "$dir/k.wav" >"$dir/linux.txt"
"$WINELOADER" "$win_bin/kova-check.exe" "$dir/k.wav" >"$dir/windows.txt"
cmp "$dir/linux.txt" "$dir/windows.txt" || { echo "bench-windows: the reports differ" >&2; exit 1; }

hyperfine --style basic --runs "$runs" --warmup 1 --export-csv "$dir/times.csv" \
  -n linux "$bin/kova-check $dir/k.wav > /dev/null" \
  -n windows "$WINELOADER $win_bin/kova-check.exe $dir/k.wav > /dev/null" \
  -n wine-start "$WINELOADER $win_bin/kova-check.exe --version > /dev/null"
awk -F, 'NR > 1 { mean[$1] = $2 } END {
  printf "kova-check.exe under wine64 / kova-check: %.2f (%.3f s / %.3f s)\n", mean["windows"] / mean["linux"], mean["windows"], mean["linux"]
  printf "less Wine starting the program (%.3f s): %.2f\n", mean["wine-start"], (mean["windows"] - mean["wine-start"]) / mean["linux"] }' "$dir/times.csv"
