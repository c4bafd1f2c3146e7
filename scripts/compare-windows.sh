#!/usr/bin/env bash
# Runs the Windows commands under Wine and their Linux builds on the same
# arguments and inputs, each in a folder of its own holding the same files,
# and fails unless both give the same exit status, the same standard output
# and error byte for byte, and leave the same files behind, byte for byte.
# Then what only Windows has: device names, paths past 260 characters, a
# process killed mid-write.
#   scripts/compare-windows.sh win32|win64 LINUX_BIN WINDOWS_BIN
# LINUX_BIN holds kova-gen (and kova-check), WINDOWS_BIN the .exe files.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=$1
linux_bin=$(cd "$2" && pwd)
windows_bin=$(cd "$3" && pwd)
source "$root/scripts/wine-env.sh" "$arch"
"$root/scripts/wine-prefix.sh" "$arch"
trap '"$WINESERVER" -k 2>/dev/null || true; rm -rf "$tmp"' EXIT

passed=0 failed=0
pass() { passed=$((passed + 1)); echo "ok: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }

tmp=$(mktemp -d)
lin=$tmp/linux win=$tmp/windows
mkdir -p "$lin" "$win" "$tmp/fixture"

# Both folders start again from the fixture (the inputs a case reads).
reset_folders() {
  rm -rf "$lin" "$win"
  cp -a "$tmp/fixture" "$lin"
  cp -a "$tmp/fixture" "$win"
}

# Runs one side: the command in its folder, with standard input from the
# file or through a pipe (INPUT: "", "<FILE" or "|FILE"), or with standard
# output through a pipe (INPUT "|").
run_side() {  # run_side FOLDER PROGRAM INPUT ARGUMENT...
  local folder=$1 program=$2 input=$3
  shift 3
  cd "$folder" || return 125
  case $input in
    '|') "$program" "$@" </dev/null | cat ;;
    '<'*) "$program" "$@" <"${input#<}" ;;
    '|'*) cat "${input#|}" | "$program" "$@" ;;
    *) "$program" "$@" </dev/null ;;
  esac
}

# same NAME INPUT COMMAND ARGUMENT...: the case on both sides, compared:
# status, standard output, standard error and every file in the folders.
same() {
  local name=$1 input=$2 command=$3 lrc=0 wrc=0 what=()
  shift 3
  run_side "$lin" "$linux_bin/$command" "$input" "$@" >"$tmp/l.out" 2>"$tmp/l.err" || lrc=$?
  run_side "$win" "$windows_bin/$command.exe" "$input" "$@" >"$tmp/w.out" 2>"$tmp/w.err" || wrc=$?
  [[ $lrc == "$wrc" ]] || what+=("exit $lrc on Linux, $wrc on Windows")
  cmp -s "$tmp/l.out" "$tmp/w.out" || what+=("standard output differs")
  cmp -s "$tmp/l.err" "$tmp/w.err" || what+=("standard error differs")
  diff -r "$lin" "$win" >/dev/null 2>&1 || what+=("the files left differ: $(diff -rq "$lin" "$win" 2>&1 | head -3 | tr '\n' ' ')")
  if ((${#what[@]} == 0)); then
    pass "$command $name (exit $lrc)"
  else
    fail "$command $name: ${what[*]}"
    diff "$tmp/l.out" "$tmp/w.out" | head -10
    diff "$tmp/l.err" "$tmp/w.err" | head -10
  fi
}

# Wine runs the Windows side: through this, named as the Linux one is.
wine_shim() {
  local program
  mkdir -p "$tmp/shim"
  for program in "$windows_bin"/*.exe; do
    printf '#!/bin/sh\nexec "%s" "%s" "$@"\n' "$WINELOADER" "$program" >"$tmp/shim/$(basename "$program")"
    chmod +x "$tmp/shim/$(basename "$program")"
  done
  windows_bin=$tmp/shim
}
wine_shim

# ---- kova-gen -------------------------------------------------------------
reset_folders
same "writes its default name" "" kova-gen -r 48k -d 1
same "keeps an existing file without --force" "" kova-gen -r 48k -d 1
same "replaces it with --force" "" kova-gen -r 48k -d 2 -o kova-48000Hz-1s.wav -f
same "writes the full signal in 3 channels" "" kova-gen -s full -c 3 -r 96k -d 1 -o full.wav
same "writes a name that is not ASCII" "" kova-gen -r 192k -d 1 -o 'kova-é-ü-日本.wav'
same "writes standard output in binary" "" kova-gen -r 44.1k -d 1 -o -
same "through a pipe" "|" kova-gen -s full -c 2 -o - -q
same "into a missing folder" "" kova-gen -o nosuch/x.wav
same "onto a folder" "" kova-gen -o .
same "an unknown rate" "" kova-gen -r 45k
same "a duration past the RIFF limit" "" kova-gen -r 192k -d 3729
same "channels for the pattern" "" kova-gen -c 2
same "--help" "" kova-gen --help
same "--version" "" kova-gen --version
same "--list" "" kova-gen --list

# Windows only. A device is written in place, under its own name.
out=$(cd "$win" && "$windows_bin/kova-gen.exe" -o NUL 2>&1) && [[ $out == "NUL: 44100 Hz, 1 s, 132344 bytes" ]] &&
  [[ ! -e $win/NUL ]] && pass "kova-gen -o NUL writes the device" || fail "kova-gen -o NUL: $out"
# A reader that goes away: Windows has no SIGPIPE to end the writer, which
# says so instead.
out=$( (cd "$win" && "$windows_bin/kova-gen.exe" -r 96k -o - 2>"$tmp/pipe.err" | head -c 100 >/dev/null; exit "${PIPESTATUS[0]}") )
rc=$?
[[ $rc == 1 && $(cat "$tmp/pipe.err") == "kova-gen: write failed: Broken pipe" ]] &&
  pass "kova-gen.exe into a pipe its reader closed: Broken pipe, exit 1" ||
  fail "kova-gen.exe into a closed pipe: exit $rc, $(cat "$tmp/pipe.err")"
# A path past MAX_PATH (260), absolute and relative.
long=$(printf 'a%.0s' {1..120})/$(printf 'b%.0s' {1..120})/$(printf 'c%.0s' {1..60})
mkdir -p "$win/$long"
(cd "$win" && "$windows_bin/kova-gen.exe" -q -o "$win/$long/x.wav" && "$windows_bin/kova-gen.exe" -q -o "$long/y.wav") &&
  cmp -s "$win/$long/x.wav" "$win/$long/y.wav" && [[ $(stat -c %s "$win/$long/x.wav") == 132344 ]] &&
  pass "kova-gen writes paths of $((${#win} + ${#long} + 6)) characters" || fail "kova-gen with a path past 260 characters"
# Killed mid-write (16 GB to come), nothing of the file is left; an old file stays.
printf 'old' >"$win/big.wav"
(cd "$win" && exec "$windows_bin/kova-gen.exe" -q -s full -c 8 -r 192k -d 1h -f -o big.wav) &
pid=$!
for _ in $(seq 100); do
  compgen -G "$win/.big.wav.*" >/dev/null && break
  sleep 0.02
done
sleep 0.2
kill -KILL $pid 2>/dev/null
wait $pid 2>/dev/null
sleep 0.5  # the server closes the dead process's handles
left=$(cd "$win" && ls -A | grep -c '^\.big\.wav\.')
[[ $left == 0 && $(cat "$win/big.wav") == old ]] && pass "kova-gen killed mid-write leaves no part of a file, and the old one" ||
  fail "kova-gen killed mid-write: $left temporary files left, big.wav holds $(stat -c %s "$win/big.wav") bytes"

# ---- kova-check ------------------------------------------------------------
# Captures of the kinds a chain makes, from the Linux kova-gen, sox and ffmpeg.
make_captures() {
  local gen=$linux_bin/kova-gen
  cd "$tmp/fixture" || exit 1
  rm -rf ./*
  "$gen" -q -r 48k -d 1 -o k48.wav
  "$gen" -q -r 48k -d 10 -o k48_10.wav
  "$gen" -q -r 44.1k -d 10 -o k44_10.wav
  "$gen" -q -r 96k -d 1 -o k96.wav
  "$gen" -q -s full -c 2 -r 48k -d 1 -o full2.wav
  # Exact, in every container and some formats read.
  ffmpeg -v error -i k48.wav -c:a pcm_s24le -rf64 always rf64.wav
  sox k96.wav -t w64 k96.w64
  sox k48.wav -b 16 s16.wav
  sox k48.wav -e floating-point -b 32 f32.wav
  ffmpeg -v error -i k48.wav -ac 2 -c:a pcm_s24le stereo.wav
  cp k48.wav 'capture-é-日本.wav'
  # Gains, resampling, a clock apart.
  sox k48_10.wav -D halved.wav vol 0.5
  ffmpeg -v error -i k48.wav -af volume=-6dB -c:a pcm_f32le v_f32.wav
  sox k44_10.wav resampled48.wav rate 48000
  ffmpeg -v error -i k48_10.wav -af asetrate=48001,aresample=48000 -c:a pcm_s24le drift.wav
  # Dropouts, cuts.
  sox k48_10.wav a.wav trim 0 200000s
  sox k48_10.wav b.wav trim 200025s
  sox a.wav b.wav dropout25.wav
  sox k48_10.wav late.wav trim 1000s
  rm a.wav b.wav
  head -c 100000 k48.wav >body_cut.wav
  head -c 30 k48.wav >header_cut.wav
  # Not a capture at all.
  : >empty.wav
  head -c 4096 /dev/urandom >random.bin
  printf 'RIFF\377\377\377\377WAVEfmt ' >riff_only.wav
  # Read on Linux only (libsndfile).
  sox k48.wav k.aiff
  sox k48.wav k.flac
}
(make_captures)
captures=$(cd "$tmp/fixture" && ls | grep -v -e '\.aiff$' -e '\.flac$' | sort)
reset_folders
# shellcheck disable=SC2086 # one word per capture
{
  same "the text reports of $(wc -w <<<"$captures") captures" "" kova-check $captures
  same "their JSON reports" "" kova-check --json $captures
}
same "expectations met and not" "" kova-check --expect-rate 48k --expect-duration 10s k48_10.wav halved.wav dropout25.wav k48.wav
same "a piece of a file with --partial-ok" "" kova-check --partial-ok late.wav
same "standard input from a file" "<dropout25.wav" kova-check -
same "standard input through a pipe" "|drift.wav" kova-check --json -
same "a stream that is not WAV" "|k.aiff" kova-check -
same "a file named from the root, /..." "" kova-check "$tmp/fixture/k48.wav"
same "a file that is not there" "" kova-check missing.wav
same "an unknown rate expected" "" kova-check --expect-rate 45k k48.wav
same "--version" "" kova-check --version

# Windows only: what needs libsndfile is refused in one line.
out=$(cd "$win" && "$windows_bin/kova-check.exe" k.aiff k.flac 2>&1)
rc=$?
expected="kova-check: k.aiff: AIFF, FLAC and CAF are read through libsndfile, which kova-check on Windows is built without: convert the capture to WAV
kova-check: k.flac: AIFF, FLAC and CAF are read through libsndfile, which kova-check on Windows is built without: convert the capture to WAV"
[[ $rc == 2 && $out == "$expected" ]] && pass "kova-check.exe refuses AIFF and FLAC, one line each, exit 2" ||
  fail "kova-check.exe on AIFF and FLAC: exit $rc, $out"

echo "$passed passed, $failed failed"
((failed == 0))
