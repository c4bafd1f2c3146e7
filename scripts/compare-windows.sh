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

echo "$passed passed, $failed failed"
((failed == 0))
