#!/usr/bin/env bash
# Builds every preset and runs every test suite, then says what ran where.
# The GUI suites run inside Xvfb, the Windows ones under Wine. The 64-bit
# Windows suites run on every machine; the 32-bit ones only where the kernel
# runs i386 programs, which Wine's 32-bit loader is. Elsewhere, or with
# KOVA_NO_I386=1 in the environment, the 32-bit KOVA.exe is checked without
# being run. Last, the .deb and the Windows ZIP are made and checked.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

step() { printf '\n==== %s\n' "$*"; }

summary=()  # a line per suite or check
passed=0 failed=0 skipped=0

# run_suite LABEL BUILD_DIR COMMAND...: runs a command that runs ctest in
# BUILD_DIR, and counts what passed, failed and was skipped, with each skip's
# reason. A failure fails the whole run, but only at the end, so that every
# suite has had its turn.
run_suite() {
  local label=$1 dir=$2 log rc=0 total fail skip pass
  shift 2
  log=$(mktemp)
  "$@" 2>&1 | tee "$log" || rc=$?
  total=$(sed -n 's/.* tests failed out of \([0-9][0-9]*\)$/\1/p' "$log" | tail -1)
  fail=$(sed -n 's/.*tests passed, \([0-9][0-9]*\) tests\{0,1\} failed out of .*/\1/p' "$log" | tail -1)
  skip=$(grep -c '(Skipped)$' "$log" || true)
  # A script of checks closes on "N passed, N failed" instead.
  if [[ -z $total ]] && grep -qE '^[0-9]+ passed, [0-9]+ failed$' "$log"; then
    read -r pass fail < <(sed -nE 's/^([0-9]+) passed, ([0-9]+) failed$/\1 \2/p' "$log" | tail -1)
    total=$((pass + fail)) skip=0
  fi
  rm -f "$log"
  if [[ -z $total || -z $fail ]]; then
    summary+=("$(printf '%-28s did not run to the end (exit %d)' "$label" "$rc")")
    failed=$((failed + 1))
    return
  fi
  (( rc == 0 || fail > 0 )) || fail=1
  summary+=("$(printf '%-28s %4d passed, %d failed, %d skipped' "$label" $((total - fail - skip)) "$fail" "$skip")")
  if (( skip > 0 )); then
    # GoogleTest prints the reason on the line after "file:line: Skipped".
    while read -r reason; do
      summary+=("    skipped: $reason")
    done < <(awk '/: Skipped$/ { getline; print }' "$dir/Testing/Temporary/LastTest.log")
  fi
  passed=$((passed + total - fail - skip)) failed=$((failed + fail)) skipped=$((skipped + skip))
}

# run_check LABEL COMMAND...: a check that is not a test suite.
run_check() {
  local label=$1
  shift
  if "$@"; then
    summary+=("$(printf '%-28s passed' "$label")")
  else
    summary+=("$(printf '%-28s FAILED' "$label")")
    failed=$((failed + 1))
  fi
}

# Wine's 32-bit loader is itself an i386 program: a kernel without 32-bit
# support refuses to start it at all ("Exec format error").
runs_i386() {
  [[ ${KOVA_NO_I386:-0} == 1 ]] && return 1
  [[ -x /usr/lib/wine/wine ]] || { echo "test-all: /usr/lib/wine/wine is missing (scripts/install-deps.sh installs wine32)" >&2; exit 1; }
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

for preset in linux linux-asan win32 win64; do
  step "build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
done

step "test linux"
run_suite "linux" build/linux scripts/with-xvfb.sh ctest --test-dir build/linux --output-on-failure -j"$jobs" -LE sound-server

step "test linux-asan"
run_suite "linux-asan" build/linux-asan scripts/with-xvfb.sh ctest --test-dir build/linux-asan --output-on-failure -j"$jobs" -LE sound-server

# The live library's threads (the capture ring, the drain thread) under
# ThreadSanitizer: a missing fence is a race it reports, and fails the run.
step "build and test tsan"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j"$jobs"
run_suite "tsan (live library)" build/tsan ctest --test-dir build/tsan -L live-unit --output-on-failure

# The live commands' full-signal paths (kova-play and kova-check --listen,
# kova-loop) under AddressSanitizer against the JACK server: the asan build
# has them already, and the two cases take about 15 s. Slower there, they
# lose audio on this machine more often, made again as the live suites' are.
step "test linux-asan live (JACK, full signal)"
run_suite "linux-asan live (full signal)" build/linux-asan \
  env ASAN_OPTIONS=fast_unwind_on_malloc=0 LSAN_OPTIONS=suppressions=$PWD/scripts/lsan-live.supp:print_suppressions=0 \
  scripts/sound-server.sh jack -- scripts/ctest-live.sh --test-dir build/linux-asan -L '^sound-server$' -R Full \
  --output-on-failure

# One layout for every C++ source, so that a diff shows only what changed.
step "check the layout of the sources"
run_check "format (clang-format)" scripts/check-format.sh

# The committed pictures are what scripts/make-resources.sh makes, byte for
# byte: remade in a scratch folder and compared.
resources_same() {
  local out f rc=0
  out=$(mktemp -d)
  KOVA_RESOURCES_DIR=$out scripts/make-resources.sh >/dev/null || rc=1
  for f in win/res/background.bmp mac/res/GUI_bg.bmp win/res/kova.ico; do
    cmp "$out/$f" "$f" || rc=1
  done
  rm -rf "$out"
  return $rc
}
step "check the binary resources"
run_check "resources (make-resources)" resources_same

# GCC compiles mac/ here; clang, as on a Mac, checks more of its Objective-C.
step "check mac/ with clang"
run_check "mac/ with clang (static)" scripts/check-mac-clang.sh

# The fuzz targets for a short while each, from their seeds and saved
# regressions; a finding's input is kept under build/fuzz-findings/.
step "fuzz"
run_check "fuzz (25 s per target)" scripts/fuzz.sh 25 fresh

# The live commands' tests (kova-play, kova-check --listen, kova-loop) play
# into a private JACK server (dummy driver, no sound card), started for them
# and stopped after; one at a time, so that they do not crowd the server's
# cycle. Those that need PulseAudio's resampler and volume run in a private
# PulseAudio server of their own. A test failed only by audio this machine
# lost is made again (scripts/ctest-live.sh), as is a Wine one that never started.
step "test linux live (JACK)"
run_suite "linux live (JACK)" build/linux scripts/sound-server.sh jack -- scripts/ctest-live.sh --test-dir build/linux -L '^sound-server$' --output-on-failure
step "test linux live (PulseAudio)"
run_suite "linux live (PulseAudio)" build/linux scripts/sound-server.sh pulse -- scripts/ctest-live.sh --test-dir build/linux -L '^sound-server-pulse$' --output-on-failure

# A 1 MiB tmpfs takes the header and one block but not a second: a disk that
# fills up in the middle of a file. Mounting needs root; without it the
# Windows failed-write test says so and is counted as skipped.
full_dir=$(mktemp -d)
trap 'umount "$full_dir" 2>/dev/null || true; rmdir "$full_dir"' EXIT
if mount -t tmpfs -o size=1m kova-full "$full_dir" 2>/dev/null; then
  export KOVA_FULL_DIR=$full_dir
else
  echo "test-all: cannot mount a tmpfs here (needs root); the Windows failed-write tests will be skipped" >&2
fi

# Each Windows suite that ran under Wine, and each 32-bit program checked
# statically instead, named in the summary.
windows_ran=() windows_static=()
wine_suite() {  # wine_suite LABEL BUILD_DIR COMMAND...
  windows_ran+=("$1")
  run_suite "$@"
}
static_check() {  # static_check LABEL PROGRAM
  windows_static+=("$(basename "$2")")
  run_check "$1 (static)" scripts/check-pe.sh ${3:-} win32 "$2"
}

step "test win64 (Wine, 64-bit loader)"
run_check "win64 KOVA.exe (static)" scripts/check-pe.sh win64 build/win64/bin/KOVA.exe
wine_suite "win64 (Wine 64-bit)" build/win64 scripts/with-xvfb.sh scripts/wine-ctest.sh win64 -LE sound-server

# The commands under Wine against their Linux builds, byte for byte.
wine_suite "win64 commands vs Linux" build/win64 scripts/compare-windows.sh win64 build/linux/bin build/win64/bin

# The WASAPI layer against a private PulseAudio: through Wine's PulseAudio
# driver, then through its ALSA driver and ALSA's pulse plugin, the only
# way to exclusive mode here. Exclusive mode is tested 64-bit only: the
# 32-bit driver would need the i386 ALSA plugins too.
step "test win64 live (Wine, PulseAudio)"
wine_suite "win64 live (Wine, PulseAudio)" build/win64 \
  scripts/sound-server.sh pulse --realtime -- scripts/wine-ctest.sh win64 --audio pulse -L '^sound-server-wasapi$'
wine_suite "win64 exclusive (Wine, ALSA)" build/win64 \
  scripts/sound-server.sh pulse --realtime -- scripts/wine-ctest.sh win64 --audio alsa -L '^sound-server-wasapi-alsa$'
# The live commands themselves, recorded and fed by PulseAudio's own tools.
wine_suite "win64 live commands (Wine)" build/win64 \
  scripts/sound-server.sh pulse --realtime -- scripts/wine-live.sh win64 pulse build/win64/bin build/linux/bin
wine_suite "win64 exclusive loop (Wine)" build/win64 \
  scripts/sound-server.sh pulse --realtime -- scripts/wine-live.sh win64 alsa build/win64/bin build/linux/bin

static_check "win32 KOVA.exe" build/win32/bin/KOVA.exe
static_check "win32 WASAPI layer" build/win32/bin/live_wasapi_pulse_tests.exe --console
for command in kova-gen kova-check kova-play kova-loop; do
  static_check "win32 $command.exe" build/win32/bin/$command.exe --console
done
if runs_i386; then
  step "test win32 (Wine, 32-bit loader)"
  wine_suite "win32 (Wine 32-bit)" build/win32 scripts/with-xvfb.sh scripts/wine-ctest.sh win32 -LE sound-server
  wine_suite "win32 commands vs Linux" build/win32 scripts/compare-windows.sh win32 build/linux/bin build/win32/bin
  wine_suite "win32 live (Wine, PulseAudio)" build/win32 \
    scripts/sound-server.sh pulse --realtime -- scripts/wine-ctest.sh win32 --audio pulse -L '^sound-server-wasapi$'
  wine_suite "win32 live commands (Wine)" build/win32 \
    scripts/sound-server.sh pulse --realtime -- scripts/wine-live.sh win32 pulse build/win32/bin build/linux/bin
  windows_32="win32: run under Wine's 32-bit loader, and checked statically"
else
  step "test win32"
  echo "win32 tests skipped: this kernel does not run 32-bit programs"
  [[ ${KOVA_NO_I386:-0} != 1 ]] || echo "(KOVA_NO_I386=1 is set: taken as such without probing)"
  summary+=("$(printf '%-28s not run: no 32-bit programs here; the static checks above stand in' "win32 (Wine 32-bit)")")
  windows_32="win32 suites skipped: this kernel does not run 32-bit programs; checked statically instead"
fi

step "packages"
run_suite "packages (.deb, ZIP)" build/packages bash -c 'scripts/package.sh && scripts/test-packages.sh'

step "summary"
printf '%s\n' "${summary[@]}"
echo "Windows suites run under Wine: $(IFS=,; echo "${windows_ran[*]}" | sed 's/,/, /g')"
echo "$windows_32: $(IFS=,; echo "${windows_static[*]}" | sed 's/,/, /g')"
echo "total: $passed passed, $failed failed, $skipped skipped"
(( failed == 0 ))
