#!/usr/bin/env bash
# Runs a ctest (the arguments are ctest's, --test-dir first) and makes
# again, three runs at most, a test that failed only by this machine's
# doing: audio lost, which the commands say in their own words ("on this
# machine", "the host reported ... gaps") and a loaded machine does now and
# then, or a test program that never printed a line (a Wine process that
# ended before the program started). A test that failed any other way fails
# at once. Closes on ctest's own summary line, counted over every test of
# the first run.
#   scripts/ctest-live.sh --test-dir DIR [CTEST ARGS...]
set -uo pipefail
[[ ${1:-} == --test-dir && -n ${2:-} ]] || { echo "ctest-live: --test-dir DIR first" >&2; exit 2; }
dir=$2
temp="$dir/Testing/Temporary"
kept=$(mktemp)
trap 'rm -f "$kept" "$kept.log"' EXIT

# The names of the tests that failed in the last run by no fault of this
# machine; ctest's log holds each test's output between "Output:" and
# "<end of output>", within "N/M Testing: NAME" and its end time. Wine's own
# messages ("0123:err:...", "wine: ...") are not the program's.
failed_otherwise() {
  awk '
    /^[0-9]+\/[0-9]+ Testing: / { name = $3; lost = 0; bad = 0; printed = 0; out = 0; next }
    /^Output:$/ { out = 1; getline; next }
    /^<end of output>$/ { out = 0; next }
    out && !/^[0-9a-f]+:(err|fixme|warn|trace):|^wine: |^[[:space:]]*$/ { printed = 1 }
    /on this machine|the host reported [0-9]+ gaps/ { lost = 1 }
    /^Test Failed/ { bad = 1 }
    name != "" && $0 ~ "^\"" name "\" end time" { if (bad && !lost && printed) print name; name = "" }
  ' "$temp/LastTest.log"
}

# A first run that never got to its tests (one that cannot be listed) leaves
# the logs of the run before it: gone, they cannot make that run's failures
# again and call the suite passed.
rm -f "$temp/LastTest.log" "$temp/LastTestsFailed.log"
ctest "$@" | tee "$kept"
rc=${PIPESTATUS[0]}
total=$(sed -n 's/.* tests failed out of \([0-9][0-9]*\)$/\1/p' "$kept" | tail -1)
cp "$temp/LastTest.log" "$kept.log" 2>/dev/null
for again in 2 3; do
  (( rc != 0 )) || break
  [[ -n $total && -s $temp/LastTestsFailed.log && -z $(failed_otherwise) ]] || break
  echo "ctest-live: every failure above was this machine's (audio lost, or a program that never started); run $again of 3 of those tests"
  ctest "$@" --rerun-failed
  rc=$?
  cat "$temp/LastTest.log" >>"$kept.log"
done
# The skips' reasons are read from the log later: keep every run's.
[[ ! -e $kept.log ]] || mv "$kept.log" "$temp/LastTest.log"
[[ -n $total ]] || exit "$rc"
fail=0
(( rc == 0 )) || fail=$(wc -l <"$temp/LastTestsFailed.log")
echo "$(( (total - fail) * 100 / total ))% tests passed, $fail tests failed out of $total"
exit "$rc"
