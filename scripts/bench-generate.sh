#!/usr/bin/env bash
# Times kova-gen writing the largest file against the plain disk writes of
# dd (same bytes, same write size) and against sox synthesising a file of the
# same size, all in one hyperfine run so the ratios compare like with like.
# Each run starts with no dirty pages (sync in --prepare), so write-back of an
# earlier run cannot land on a later one.
# The full signal is timed the same way (mono, the same 2,073,600,044 bytes
# as the pattern: dd writes them too). Then the peak memory of kova-gen for
# the smallest and the largest setting, and of the full signal with 8
# channels for 1 s and for 10 min.
set -euo pipefail
cd "$(dirname "$0")/.."
gen=${KOVA_GEN:-build/linux/bin/kova-gen}
runs=${RUNS:-5}
[[ -x $gen ]] || { echo "bench-generate: build $gen first (make bench)" >&2; exit 1; }

dir=$(mktemp -d "${TMPDIR:-/tmp}/kova-bench-XXXXXX")
trap 'rm -rf "$dir"' EXIT

hyperfine --style basic --runs "$runs" --warmup 1 --export-csv "$dir/times.csv" \
  --prepare "rm -f $dir/out; sync" \
  -n kova-gen "$gen -q -f -r 192000 -d 1h -o $dir/out" \
  -n kova-gen-full "$gen -q -f -s full -r 192000 -d 1h -o $dir/out" \
  -n dd "dd if=/dev/zero of=$dir/out bs=576000 count=3600 status=none" \
  -n sox "sox -r 192000 -n -b 24 -c 1 -t wav $dir/out synth 3600 square 8000"

echo
echo "Medians (s) and ratios, 2,073,600,044 bytes each:"
awk -F, 'NR > 1 { median[$1] = $4 }
  END {
    printf "  kova-gen %.3f   dd %.3f   sox %.3f\n", median["kova-gen"], median["dd"], median["sox"]
    printf "  kova-gen / dd  = %.3f  (target <= 1.05)\n", median["kova-gen"] / median["dd"]
    printf "  kova-gen -s full %.3f, / dd = %.3f  (target <= 1.05)\n", median["kova-gen-full"], median["kova-gen-full"] / median["dd"]
    printf "  kova-gen / sox = %.3f\n", median["kova-gen"] / median["sox"]
  }' "$dir/times.csv"

rss() { /usr/bin/time -v "$gen" -q -f "$@" -o "$dir/out" 2>&1 >/dev/null | awk -F: '/Maximum resident/ { gsub(/ /, "", $2); print $2 }'; }
small=$(rss -r 44100 -d 1)
large=$(rss -r 192000 -d 1h)
echo
echo "Peak RSS of kova-gen: 1 s at 44.1 kHz ${small} kB, 1 h at 192 kHz ${large} kB (target < 8192 kB, within 1024 kB of each other)"
full_short=$(rss -s full -c 8 -r 192000 -d 1)
full_long=$(rss -s full -c 8 -r 192000 -d 10m)
echo "Peak RSS of kova-gen -s full -c 8 at 192 kHz: 1 s ${full_short} kB, 10 min ${full_long} kB (the same targets)"
