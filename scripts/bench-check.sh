#!/usr/bin/env bash
# Times kova-check on the largest test file (192 kHz, 1 h, 2,073,600,044
# bytes) against cat reading it, and on the same pattern in other formats
# (AIFF, 16-bit WAV, 32-bit float WAV, FLAC, all made by sox) against a plain
# libsndfile read of each into integers; all in one hyperfine run with the
# page cache warm, so the ratios compare like with like.
# Then, with 10-minute files, every kind of verdict against a libsndfile read
# of the same file: digital silence, a silent channel beside the pattern,
# a gain in floats, noise-shaped dither, resampling between the families, a
# drifting clock, and at 192 kHz a 48 kHz file resampled within its family
# and a clock 1000 ppm fast (sox's speed 1.001). Then the peak memory of
# kova-check on each file, 8 channels too. Then the same for the full
# signal: an hour at 192 kHz against cat, and 10-minute files of each kind
# of verdict against a libsndfile read (exact, cut to 16 bits, dithered to
# 16 bits, a gain in floats, a gain cut to 16 bits, ffmpeg's shibata dither
# to 16 bits with its own gain, resampled, a drifting clock, 8 channels, a
# fold-down). The files (about 19 GB) are removed at the end, whatever
# happens.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${KOVA_BIN:-build/linux/bin}
runs=${RUNS:-5}
for exe in kova-gen kova-check kova_sndfile_read; do
  [[ -x $bin/$exe ]] || { echo "bench-check: build $bin/$exe first (make bench)" >&2; exit 1; }
done

dir=$(mktemp -d "${TMPDIR:-/tmp}/kova-bench-check-XXXXXX")
trap 'rm -rf "$dir"' EXIT
need_kb=$((19 * 1024 * 1024))
free_kb=$(df -Pk "$dir" | awk 'NR == 2 { print $4 }')
if ((free_kb < need_kb)); then
  echo "bench-check: $((free_kb / 1024)) MB free under $dir, about 19 GB needed" >&2
  exit 1
fi

echo "Making the files in $dir ..."
"$bin/kova-gen" -q -f -r 192000 -d 1h -o "$dir/k.wav"
sox "$dir/k.wav" "$dir/k.aiff"
sox "$dir/k.wav" -D -b 16 "$dir/k16.wav"
sox "$dir/k.wav" -e floating-point -b 32 "$dir/kf.wav"
sox "$dir/k.wav" "$dir/k.flac"
# The slower verdicts, 10 minutes each (192 kHz where the chain allows).
"$bin/kova-gen" -q -f -r 192000 -d 10m -o "$dir/k10.wav"
"$bin/kova-gen" -q -f -r 44100 -d 10m -o "$dir/k441.wav"
"$bin/kova-gen" -q -f -r 48000 -d 10m -o "$dir/k48.wav"
sox -n -r 192000 -b 24 -c 1 "$dir/silence.wav" trim 0 600
sox "$dir/k10.wav" "$dir/onesilent.wav" remix 1 0
ffmpeg -v error -i "$dir/k10.wav" -af volume=-6dB -c:a pcm_f32le "$dir/gainf.wav"
gst-launch-1.0 -q filesrc location="$dir/k10.wav" ! wavparse ! audioconvert dithering=tpdf noise-shaping=high ! \
  audio/x-raw,format=S16LE ! wavenc ! filesink location="$dir/dither.wav"
sox "$dir/k441.wav" "$dir/resampled.wav" rate 48000
ffmpeg -v error -i "$dir/k48.wav" -af asetrate=48001,aresample=48000 -c:a pcm_s24le "$dir/drift.wav"
sox "$dir/k48.wav" -b 24 "$dir/within.wav" rate -v 192k
sox "$dir/k10.wav" -b 24 "$dir/drift1000.wav" speed 1.001 rate -v 192k
sox -M "$dir/k48.wav" "$dir/k48.wav" "$dir/k48.wav" "$dir/k48.wav" "$dir/k48.wav" "$dir/k48.wav" "$dir/k48.wav" \
  "$dir/drift.wav" "$dir/eight.wav"

hyperfine --style basic --runs "$runs" --warmup 1 --export-csv "$dir/times.csv" \
  -n cat "cat $dir/k.wav > /dev/null" \
  -n check-wav24 "$bin/kova-check $dir/k.wav > /dev/null" \
  -n read-aiff "$bin/kova_sndfile_read $dir/k.aiff" \
  -n check-aiff "$bin/kova-check $dir/k.aiff > /dev/null" \
  -n read-wav16 "$bin/kova_sndfile_read $dir/k16.wav" \
  -n check-wav16 "$bin/kova-check $dir/k16.wav > /dev/null" \
  -n read-float "$bin/kova_sndfile_read $dir/kf.wav" \
  -n check-float "$bin/kova-check $dir/kf.wav > /dev/null" \
  -n read-flac "$bin/kova_sndfile_read $dir/k.flac" \
  -n check-flac "$bin/kova-check $dir/k.flac > /dev/null"

echo
echo "Medians (s) and ratios, 192 kHz, 1 h:"
awk -F, 'NR > 1 { m[$1] = $4 }
  END {
    printf "  24-bit WAV:   kova-check %.3f  cat %.3f   ratio %.3f  (target <= 1.3)\n", m["check-wav24"], m["cat"], m["check-wav24"] / m["cat"]
    n = split("aiff wav16 float flac", f, " ")
    for (i = 1; i <= n; ++i)
      printf "  %-12s  kova-check %.3f  libsndfile read %.3f   ratio %.3f  (target <= 1.5)\n", f[i] ":", m["check-" f[i]], m["read-" f[i]], m["check-" f[i]] / m["read-" f[i]]
  }' "$dir/times.csv"

slow=(silence onesilent gainf dither resampled drift within drift1000)
args=()
for f in "${slow[@]}"; do
  args+=(-n "read-$f" "$bin/kova_sndfile_read $dir/$f.wav" -n "check-$f" "$bin/kova-check $dir/$f.wav > /dev/null")
done
# Not bit-perfect, so their exit status is 1: not a failure here.
hyperfine --style basic --runs "$runs" --warmup 1 -i --export-csv "$dir/slow.csv" "${args[@]}"
echo
echo "Medians (s) and ratios against a libsndfile read of the same file, 10 min each (target <= 1.5):"
awk -F, -v names="${slow[*]}" 'NR > 1 { m[$1] = $4 }
  END {
    n = split(names, f, " ")
    for (i = 1; i <= n; ++i)
      printf "  %-12s  kova-check %.3f  libsndfile read %.3f   ratio %.3f\n", f[i] ":", m["check-" f[i]], m["read-" f[i]], m["check-" f[i]] / m["read-" f[i]]
  }' "$dir/slow.csv"

echo
echo "Peak RSS of kova-check (target < 16384 kB):"
for f in k.wav k.aiff k16.wav kf.wav k.flac "${slow[@]/%/.wav}" eight.wav; do
  # Not every one is bit-perfect: the exit status is not the point here.
  kb=$( (/usr/bin/time -v "$bin/kova-check" "$dir/$f" 2>&1 >/dev/null || true) | awk -F: '/Maximum resident/ { gsub(/ /, "", $2); print $2 }')
  echo "  $f: $kb kB"
done

echo
echo "The full signal: making its files ..."
"$bin/kova-gen" -q -f -s full -r 192000 -d 1h -o "$dir/full.wav"
"$bin/kova-gen" -q -f -s full -r 192000 -d 10m -o "$dir/fexact.wav"
"$bin/kova-gen" -q -f -s full -r 44100 -d 10m -o "$dir/f441.wav"
"$bin/kova-gen" -q -f -s full -r 48000 -d 10m -o "$dir/f48.wav"
"$bin/kova-gen" -q -f -s full -c 8 -r 48000 -d 10m -o "$dir/feight.wav"
"$bin/kova-gen" -q -f -s full -c 2 -r 48000 -d 10m -o "$dir/f48s.wav"
sox "$dir/fexact.wav" -D -b 16 "$dir/f16.wav"
gst-launch-1.0 -q filesrc location="$dir/fexact.wav" ! wavparse ! audioconvert dithering=tpdf noise-shaping=high ! \
  audio/x-raw,format=S16LE ! wavenc ! filesink location="$dir/fdither.wav"
ffmpeg -v error -i "$dir/fexact.wav" -af volume=-6dB -c:a pcm_f32le "$dir/fgainf.wav"
sox -D "$dir/fexact.wav" -b 16 "$dir/fhalf16.wav" vol 0.5
# Its noise shaping is for 44.1 and 48 kHz.
ffmpeg -v error -i "$dir/f48.wav" -af aresample=osf=s16:dither_method=shibata -c:a pcm_s16le "$dir/fshibata.wav"
sox "$dir/f441.wav" "$dir/fresampled.wav" rate 48000
ffmpeg -v error -i "$dir/f48.wav" -af asetrate=48001,aresample=48000 -c:a pcm_s24le "$dir/fdrift.wav"
sox "$dir/f48s.wav" "$dir/ffold.wav" remix 1,2
rm -f "$dir/f441.wav" "$dir/f48.wav" "$dir/f48s.wav"

hyperfine --style basic --runs "$runs" --warmup 1 --export-csv "$dir/full.csv" \
  -n cat "cat $dir/full.wav > /dev/null" -n check "$bin/kova-check $dir/full.wav > /dev/null"
full=(fexact f16 fdither fgainf fhalf16 fshibata fresampled fdrift feight ffold)
args=()
for f in "${full[@]}"; do
  args+=(-n "read-$f" "$bin/kova_sndfile_read $dir/$f.wav" -n "check-$f" "$bin/kova-check $dir/$f.wav > /dev/null")
done
hyperfine --style basic --runs "$runs" --warmup 1 -i --export-csv "$dir/fullslow.csv" "${args[@]}"
echo
echo "The full signal, medians (s) and ratios:"
awk -F, 'NR > 1 { m[$1] = $4 }
  END { printf "  192 kHz, 1 h:  kova-check %.3f  cat %.3f   ratio %.3f  (target <= 1.3)\n", m["check"], m["cat"], m["check"] / m["cat"] }' "$dir/full.csv"
awk -F, -v names="${full[*]}" 'NR > 1 { m[$1] = $4 }
  END {
    n = split(names, f, " ")
    for (i = 1; i <= n; ++i)
      printf "  %-12s  kova-check %.3f  libsndfile read %.3f   ratio %.3f  (target <= 1.5)\n", f[i] ":", m["check-" f[i]], m["read-" f[i]], m["check-" f[i]] / m["read-" f[i]]
  }' "$dir/fullslow.csv"
echo
echo "Peak RSS of kova-check on the full signal (target < 16384 kB):"
for f in full.wav "${full[@]/%/.wav}"; do
  kb=$( (/usr/bin/time -v "$bin/kova-check" "$dir/$f" 2>&1 >/dev/null || true) | awk -F: '/Maximum resident/ { gsub(/ /, "", $2); print $2 }')
  echo "  $f: $kb kB"
done
