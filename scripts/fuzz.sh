#!/usr/bin/env bash
# Builds the fuzz preset, makes the seed corpora and runs each fuzz target
# (analysis, reader) for SECONDS, one worker each. Any finding fails the run:
# libFuzzer keeps the input that caused it under build/fuzz-findings/, and
# its path and the report are printed.
#   keep   new inputs go to build/fuzz/work/TARGET and are fuzzed from again
#          next time (make fuzz)
#   fresh  from the seeds alone, so that the run takes SECONDS however much
#          earlier runs gathered (make test)
# The inputs under fuzz/regressions/TARGET/ are run first, every time.
# Usage: scripts/fuzz.sh [SECONDS [keep|fresh]]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
mode=${2:-keep}
[[ $seconds =~ ^[1-9][0-9]*$ && ($mode == keep || $mode == fresh) ]] || {
  echo "usage: $0 [SECONDS [keep|fresh]]" >&2
  exit 2
}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"${JOBS:-$(nproc)}" >/dev/null
scripts/fuzz-corpus.sh build/fuzz/bin/kova-gen build/fuzz/corpus
mkdir -p build/fuzz-findings build/fuzz/logs

# Per target: how long one input may take before it counts as a hang, and
# the largest input (the analysis's seeds are whole seconds of samples).
declare -A options=(
  [analysis]="-timeout=20"
  [reader]="-timeout=10 -max_len=16384"
)

fresh=$(mktemp -d)
trap 'rm -rf "$fresh"' EXIT
status=0
for target in analysis reader; do
  log=build/fuzz/logs/$target.log
  work=build/fuzz/work/$target
  [[ $mode == fresh ]] && work=$fresh/$target
  mkdir -p "$work"
  dirs=("$work" "build/fuzz/corpus/$target")
  [[ -d fuzz/regressions/$target ]] && dirs+=("fuzz/regressions/$target")
  rc=0
  # shellcheck disable=SC2086 # the options are words
  "build/fuzz/bin/${target}_fuzz" -max_total_time="$seconds" -print_final_stats=1 ${options[$target]} \
    -artifact_prefix="build/fuzz-findings/$target-" "${dirs[@]}" >"$log" 2>&1 || rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  added=$(sed -n 's/^stat::new_units_added: *//p' "$log")
  if ((rc == 0)); then
    echo "fuzz $target: ${seconds} s, ${runs:-?} inputs run, ${added:-?} new, no finding (log: $log)"
    continue
  fi
  status=1
  echo "fuzz $target: FINDING after ${runs:-?} inputs (exit $rc); the report:"
  # From the sanitizer's or the comparison's first line to the end.
  sed -n '/^==[0-9]*==\|differ:\|runtime error\|ALARM\|out-of-memory\|^==[0-9]*== ERROR/,$p' "$log" | head -80
  input=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
  echo "fuzz $target: the input is ${input:-not saved (see $log)}"
  [[ -n $input ]] && echo "  replay: build/fuzz/bin/${target}_fuzz $input"
done
exit $status
