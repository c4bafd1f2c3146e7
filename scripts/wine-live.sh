#!/usr/bin/env bash
# The live commands for Windows under Wine against a private PulseAudio (run
# it inside scripts/sound-server.sh pulse): kova-play.exe into the null sink
# recorded by parec, kova-check.exe --listen on its monitor fed by paplay,
# kova-loop.exe from the sink to its monitor, each with the pattern and the
# full signal; a rate the mix lacks, the process stopped for 300 ms; with --audio alsa, the same loop in exclusive
# mode through Wine's ALSA driver (64-bit only: the 32-bit one would need the
# i386 ALSA plugins). What is played is checked by the Linux kova-check.
#   scripts/wine-live.sh win32|win64 pulse|alsa WINDOWS_BIN LINUX_BIN
# A run lost on this machine (Wine's timer late, PulseAudio run dry: the
# commands say so and exit 2, kova-play naming the gaps the host played) is
# made again, three runs at most; a run that comes back wrong otherwise
# fails at once.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=$1 audio=$2
windows_bin=$(cd "$3" && pwd)
linux_bin=$(cd "$4" && pwd)
[[ -n ${PULSE_SERVER:-} ]] || { echo "wine-live: run inside scripts/sound-server.sh pulse" >&2; exit 2; }
source "$root/scripts/wine-env.sh" "$arch"
"$root/scripts/wine-prefix.sh" "$arch"
drivers='HKCU\Software\Wine\Drivers'
"$WINELOADER" reg add "$drivers" /v Audio /d "$audio" /f >/dev/null 2>&1
tmp=$(mktemp -d)
trap '"$WINELOADER" reg delete "$drivers" /v Audio /f >/dev/null 2>&1; "$WINESERVER" -k 2>/dev/null; rm -rf "$tmp"' EXIT
cd "$tmp" || exit 2

passed=0 failed=0
pass() { passed=$((passed + 1)); echo "ok: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
win() { "$WINELOADER" "$windows_bin/$1.exe" "${@:2}"; }
lost_here() { grep -q 'on this machine' "$1"; }  # the commands' words for a loss of theirs

"$linux_bin/kova-gen" -q -r 48k -d 1 -o k1.wav
"$linux_bin/kova-gen" -q -r 48k -d 3 -o k3.wav
"$linux_bin/kova-gen" -q -s full -c 2 -r 48k -d 1 -o f1.wav
bit_perfect_2ch='ch1  bit-perfect  48 kHz  1 s .*ch2  bit-perfect  48 kHz  1 s '
full_2ch='full signal of 2 channels, 1 s at 48 kHz .*'

if [[ $audio == pulse ]]; then
  # kova-play.exe into the sink, recorded from its monitor by parec: the
  # pattern, then the full signal (bit-perfect there means every word its
  # own channel's, at its own place).
  for signal in pattern full; do
    for run in 1 2 3; do
      parec --device=kova.monitor --format=float32le --rate=48000 --channels=2 --file-format=wav rec.wav &
      rec=$!
      sleep 0.3
      rc=0
      win kova-play -r 48k -d 1 --signal $signal >play.out 2>play.err || rc=$?
      sleep 0.3
      kill -INT $rec
      wait $rec
      report=$("$linux_bin/kova-check" rec.wav | tr '\n' ' ')
      ((rc == 2)) && grep -q 'gaps in what was played' play.err && ((run < 3)) && continue
      break
    done
    if [[ $signal == pattern ]]; then
      played="PulseAudio: 48000 Hz, 1 s, 2 channels" heard=$bit_perfect_2ch
    else
      played="PulseAudio: full signal of 2, 48000 Hz, 1 s, 2 channels" heard=$full_2ch$bit_perfect_2ch
    fi
    [[ $rc == 0 && $(cat play.out) == "$played" && $report =~ $heard ]] &&
      pass "kova-play.exe --signal $signal into the null sink, recorded by parec: bit-perfect on both channels (run $run)" ||
      fail "kova-play.exe --signal $signal into the null sink: exit $rc, $(cat play.out play.err), $report"
  done

  # Shared mode opens at the mix rate only.
  rc=0
  out=$(win kova-play -r 44.1k 2>&1) || rc=$?
  [[ $rc == 2 && $out == "kova-play: device 'PulseAudio' mixes at 48000 Hz in shared mode, so 44100 Hz would be resampled (open it at 48000 Hz, or in exclusive mode)" ]] &&
    pass "kova-play.exe refuses 44.1 kHz against the 48 kHz mix in one line, exit 2" ||
    fail "kova-play.exe at 44.1 kHz: exit $rc, $out"

  # kova-check.exe --listen on the monitor, fed by paplay, the capture saved.
  for run in 1 2 3; do
    rm -f saved-é.wav
    (sleep 0.8 && paplay k1.wav) &
    rc=0
    win kova-check --listen 'Monitor of Null Output' -r 48k --seconds 3 --save saved-é.wav >listen.out 2>listen.err ||
      rc=$?
    wait
    ((rc == 2)) && lost_here listen.err && ((run < 3)) && continue
    break
  done
  saved=$("$linux_bin/kova-check" saved-é.wav 2>&1 | tr '\n' ' ')
  [[ $rc == 0 && $(tr '\n' ' ' <listen.out) =~ $bit_perfect_2ch && $saved =~ $bit_perfect_2ch ]] &&
    pass "kova-check.exe --listen on the monitor, fed by paplay: bit-perfect, and so is the capture it saved (run $run)" ||
    fail "kova-check.exe --listen: exit $rc, $(cat listen.out listen.err), saved: $saved"

  # The full signal fed by paplay, known by itself: found, lost a second
  # later on each channel, and the listen ends by itself, the signal having
  # said how long its file is (the timeout only bounds a listen that would not).
  for run in 1 2 3; do
    (sleep 0.8 && paplay f1.wav) &
    rc=0
    timeout 30 "$WINELOADER" "$windows_bin/kova-check.exe" --listen 'Monitor of Null Output' -r 48k \
      >listen.out 2>listen.err || rc=$?
    wait
    ((rc == 2)) && lost_here listen.err && ((run < 3)) && continue
    break
  done
  apart=$(awk '/ s  ch[12]  full signal (found: the exact words|lost)/ { t[$3 $6] = $1 }
    END { printf "%.3f %.3f", t["ch1lost"] - t["ch1found:"], t["ch2lost"] - t["ch2found:"] }' listen.err)
  [[ $rc == 0 && $(tr '\n' ' ' <listen.out) =~ $full_2ch$bit_perfect_2ch && $apart == "1.000 1.000" ]] &&
    pass "kova-check.exe --listen on the full signal fed by paplay: bit-perfect, found and lost 1.000 s apart, ended by itself (run $run)" ||
    fail "kova-check.exe --listen on the full signal: exit $rc, found to lost $apart s, $(cat listen.out listen.err)"

  # Stopped for 300 ms mid-run: a loss there is the machine's, never the
  # chain's. Wine's buffers may also carry the capture through whole.
  (sleep 0.8 && paplay k3.wav) &
  "$WINELOADER" "$windows_bin/kova-check.exe" --listen 'Monitor of Null Output' -r 48k --seconds 5 --expect-duration 3s \
    >stall.out 2>stall.err &
  pid=$!
  sleep 2.5
  kill -STOP $pid
  sleep 0.3
  kill -CONT $pid
  rc=0
  wait $pid || rc=$?
  wait
  if ((rc == 2)) && lost_here stall.err && ! grep -q dropout stall.out; then
    pass "kova-check.exe --listen stopped for 300 ms: this machine's loss, one line, exit 2, no dropout"
  elif ((rc == 0)) && [[ $(tr '\n' ' ' <stall.out) =~ "ch1  bit-perfect  48 kHz  3 s ".*"ch2  bit-perfect  48 kHz  3 s " ]]; then
    pass "kova-check.exe --listen stopped for 300 ms: nothing lost, bit-perfect"
  else
    fail "kova-check.exe --listen stopped for 300 ms: exit $rc, $(cat stall.out stall.err)"
  fi
fi

# kova-loop.exe from the sink to its monitor (shared), or from ALSA's
# default through the pulse plugin to its input (exclusive, polled).
if [[ $audio == pulse ]]; then
  loop_args=(--out 'Null Output' --in 'Monitor of Null Output' -r 48k -d 1)
  what="kova-loop.exe from the sink to its monitor"
else
  loop_args=(--out 'Out: default' --in 'In: default' -r 48k -d 1 --exclusive)
  what="kova-loop.exe in exclusive mode through Wine's ALSA driver"
fi
# Two streams, whose latency is read on the devices' own clocks: WASAPI's
# render position and the time stamp of the capture packet that held the
# pattern's first frame (the full signal's: the first its position code
# places). Wine stamps a packet when it reads it whole, and moves its render
# position a whole period per tick of its own timer, so a figure is known to
# a capture packet plus a period either way: 10 + 10 ms, 960 frames at
# 48 kHz, and never more. The loop measured 240 to 737 frames here,
# whichever clock was read, so the figure is in [240 - R, 737 + R] for its
# stated R. The full signal's map is read from each input's own source
# channel, with no map played after it: through the sink in 1 <- out 1 too.
latency='in 1 <- out 1  latency (-?[0-9]+) ±([0-9]+) samples \((-?[0-9.]+) ±[0-9.]+ ms\)'
signals=(pattern)
[[ $audio == pulse ]] && signals+=(full)
for signal in "${signals[@]}"; do
  for run in 1 2 3; do
    rc=0
    win kova-loop "${loop_args[@]}" --signal $signal >loop.out 2>loop.err || rc=$?
    ((rc == 2)) && lost_here loop.err && ((run < 3)) && continue
    break
  done
  report=$(tr '\n' ' ' <loop.out)
  if [[ $report =~ $latency ]]; then
    figure=${BASH_REMATCH[1]} resolution=${BASH_REMATCH[2]}
    ((resolution > 0 && resolution <= 960 && figure >= 240 - resolution && figure <= 737 + resolution)) &&
      in_band=yes || in_band=no
  else
    figure=none resolution=none in_band=no
  fi
  heard=$bit_perfect_2ch
  [[ $signal == full ]] && heard=$full_2ch$bit_perfect_2ch
  [[ $rc == 0 && $report =~ $heard && $in_band == yes && $report =~ "in 2 <- out 2  latency " &&
    $report =~ "two streams (latency on the devices' clocks)" ]] &&
    pass "$what, --signal $signal: bit-perfect, in 1 <- out 1, in 2 <- out 2, latency $figure ±$resolution samples (run $run)" ||
    fail "$what, --signal $signal: exit $rc, latency $figure ±$resolution, $(cat loop.out loop.err)"
done

echo "$passed passed, $failed failed"
((failed == 0))
