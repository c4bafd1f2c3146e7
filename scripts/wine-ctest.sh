#!/usr/bin/env bash
# Runs one Windows build's tests, build/<arch> unless --test-dir names
# another build of that architecture, under that architecture's Wine loader
# and prefix; needs a display (scripts/with-xvfb.sh gives one). A test
# whose program never printed a line is made again (scripts/ctest-live.sh):
# now and then Wine ends a process before the program starts.
#   scripts/wine-ctest.sh win32|win64 [--test-dir DIR] [--audio pulse|alsa] [CTEST_ARGUMENT...]
# --audio has Wine's audio endpoints come from its PulseAudio or its ALSA
# driver for this run (the prefix's HKCU\Software\Wine\Drivers Audio,
# removed again after), and tells the tests which (KOVA_WINE_AUDIO): run it
# inside scripts/sound-server.sh pulse. Wine reads the value once per
# process, when a program first asks for endpoints.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh "$1"
shift
test_dir=build/$KOVA_WINE_ARCH
audio=
while [[ ${1:-} == --test-dir || ${1:-} == --audio ]]; do
  case $1 in
    --test-dir) test_dir=${2:?wine-ctest: --test-dir needs a folder} ;;
    --audio)
      audio=${2:?wine-ctest: --audio needs pulse or alsa}
      [[ $audio == pulse || $audio == alsa ]] || { echo "wine-ctest: --audio takes pulse or alsa" >&2; exit 2; }
      ;;
  esac
  shift 2
done
scripts/wine-prefix.sh "$KOVA_WINE_ARCH"
drivers='HKCU\Software\Wine\Drivers'
if [[ -n $audio ]]; then
  "$WINELOADER" reg add "$drivers" /v Audio /d "$audio" /f >/dev/null 2>&1
  export KOVA_WINE_AUDIO=$audio
fi
rc=0
scripts/ctest-live.sh --test-dir "$test_dir" --output-on-failure "$@" || rc=$?
if [[ -n $audio ]]; then
  "$WINELOADER" reg delete "$drivers" /v Audio /f >/dev/null 2>&1 || true
fi
# The persistent server would otherwise outlive the display.
"$WINESERVER" -k 2>/dev/null || true
exit $rc
