#!/usr/bin/env bash
# Makes the seed corpora of the fuzz targets from kova-gen's own files:
#   OUT/reader/    short captures in every container kova-check reads (sox
#                  and ffmpeg write them, also as a stream would), a few KB each
#   OUT/analysis/  their samples in every layout the analysis takes, some of
#                  them changed the way chains change them, each behind the
#                  parameters analysis_fuzz reads first
# Usage: scripts/fuzz-corpus.sh KOVA_GEN OUT. Made afresh each time, under
# build/; never committed.
set -euo pipefail

gen=${1:?usage: $0 KOVA_GEN OUT}
out=${2:?usage: $0 KOVA_GEN OUT}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
rm -rf "$out/reader" "$out/analysis"
mkdir -p "$out/reader" "$out/analysis"

# sox quietly, never dithering unasked and repeatably: the seeds are the
# pattern as converted, the same each time.
sx() { sox -D -R -V1 "$@"; }

for rate in 44100 96000 192000; do
  "$gen" -q -f -r "$rate" -d 1 -o "$tmp/$rate.wav"
done

## The reader: 1200 samples (a whole number of cycles at every rate).
reader=$out/reader
for rate in 44100 96000 192000; do
  src=$tmp/$rate.wav r=$reader/$rate
  sx "$src" -t wavpcm -b 24 "$r-pcm24.wav" trim 0 1200s
  sx "$src" -t wavpcm -b 16 "$r-pcm16.wav" trim 0 1200s
  sx "$src" -t wav -b 24 "$r-wavex24.wav" trim 0 1200s
  sx "$src" -t w64 -b 24 "$r.w64" trim 0 1200s
  sx "$src" -t flac -b 24 "$r.flac" trim 0 1200s
  ffmpeg -v error -y -i "$r-pcm24.wav" -rf64 always -c:a pcm_s24le "$r-rf64.wav"
done
src=$tmp/44100.wav r=$reader/44100
sx "$src" -t wavpcm -b 8 -e unsigned "$r-pcm8.wav" trim 0 1200s
sx "$src" -t wavpcm -b 32 -e signed "$r-pcm32.wav" trim 0 1200s
sx "$src" -t wavpcm -b 32 -e floating-point "$r-float32.wav" trim 0 1200s
sx "$src" -t wavpcm -b 64 -e floating-point "$r-float64.wav" trim 0 1200s
sx "$src" -t wavpcm -b 16 "$r-pcm16-stereo.wav" trim 0 600s channels 2
sx "$src" -t wav -b 16 "$r-wavex-8ch.wav" trim 0 150s channels 8
ffmpeg -v error -y -i "$r-float32.wav" -rf64 always -c:a pcm_f32le "$r-rf64-float.wav"
ffmpeg -v error -y -i "$r-float32.wav" -ac 3 -c:a pcm_f32le "$r-wavex-float-3ch.wav"
sx "$src" -t aiff -b 24 "$r.aiff" trim 0 1200s
sx "$src" -t aifc -b 16 "$r.aifc" trim 0 1200s
sx "$src" -t flac -b 16 "$r-16.flac" trim 0 1200s
sx "$src" -t caf -b 24 "$r.caf" trim 0 1200s
sx "$src" -t caf -b 32 -e floating-point "$r-float.caf" trim 0 1200s
# Written to a pipe, the sizes are left open (sox: 0x7FFFEFFF; sox's W64 on a
# pipe is a broken header, kept as such).
sx "$src" -t wav -b 24 - trim 0 1200s | cat >"$r-stream.wav"
sx "$src" -t w64 -b 24 - trim 0 1200s | cat >"$r-stream.w64"
ffmpeg -v error -i "$r-pcm24.wav" -c:a pcm_s24le -f wav - | cat >"$r-ffmpeg-stream.wav"
# Cut short of what the header declares.
head -c 2000 "$r-pcm24.wav" >"$r-cut.wav"

## The analysis. The parameters in front: rate (0..5: 44.1 to 192 kHz), channels - 1, layout
## (0..3 signed 1..4 bytes, 4..7 unsigned 1..4 bytes, 8 float, 9 double; +128
## big-endian), bits below the full width, block count - 1, then the block
## sizes in frames (16-bit little-endian), then the samples.
byte() { printf '%b' "\\x$(printf %02x "$1")"; }
params() {
  local rate=$1 channels=$2 layout=$3 bits=$4 b
  shift 4
  byte "$rate"; byte $((channels - 1)); byte "$layout"; byte "$bits"; byte $(($# - 1))
  for b in "$@"; do
    byte $((b & 255)); byte $((b >> 8))
  done
}

# seed NAME SOURCE "RAW OPTIONS" RATE_INDEX CHANNELS LAYOUT BITS BLOCKS... [-- EFFECTS...]
seed() {
  local name=$1 source=$2 raw=$3 rate=$4 channels=$5 layout=$6 bits=$7 blocks=() effects=()
  shift 7
  while (($#)) && [[ $1 != -- ]]; do blocks+=("$1"); shift; done
  (($#)) && shift && effects=("$@")
  { params "$rate" "$channels" "$layout" "$bits" "${blocks[@]}"
    # shellcheck disable=SC2086 # the raw options are words
    sx "$source" -t raw $raw - "${effects[@]}"
  } >"$out/analysis/$name"
}

"$gen" -q -f -r 48000 -d 1 -o "$tmp/48000.wav"
a=$tmp/44100.wav
seed 44k-s24 "$a" "-e signed -b 24 -L" 0 1 2 0 4096
seed 44k-s16 "$a" "-e signed -b 16 -L" 0 1 1 0 1000 3 65535
seed 44k-s32-24bits "$a" "-e signed -b 32 -L" 0 1 3 8 7
seed 44k-s8 "$a" "-e signed -b 8" 0 1 0 0 4096
seed 44k-u8 "$a" "-e unsigned -b 8" 0 1 4 0 4096
seed 44k-u16 "$a" "-e unsigned -b 16 -L" 0 1 5 0 4095 1
seed 44k-float "$a" "-e floating-point -b 32 -L" 0 1 8 0 1 4095
seed 44k-double "$a" "-e floating-point -b 64 -L" 0 1 9 0 0 12
seed 44k-s24-be "$a" "-e signed -b 24 -B" 0 1 130 0 333
seed 44k-float-be "$a" "-e floating-point -b 32 -B" 0 1 136 0 4096
seed 44k-s24-stereo "$a" "-e signed -b 24 -L" 0 2 2 0 4096 -- channels 2
seed 44k-s16-8ch "$a" "-e signed -b 16 -L" 0 8 1 0 512 -- trim 0 0.25 channels 8
seed 44k-gain "$a" "-e signed -b 24 -L" 0 1 2 0 4096 -- vol 0.5
seed 44k-inverted "$a" "-e signed -b 24 -L" 0 1 2 0 4096 -- vol -1
seed 44k-offset "$a" "-e signed -b 24 -L" 0 1 2 0 4096 -- dcshift 0.0001
seed 44k-faded "$a" "-e signed -b 24 -L" 0 1 2 0 4096 -- fade 0.2 1 0.2
seed 44k-padded "$a" "-e signed -b 24 -L" 0 1 2 0 4096 -- pad 0.1 0.1
seed 44k-to-48k "$a" "-e signed -b 24 -L" 1 1 2 0 4096 -- rate 48000
seed 44k-dithered "$a" "-e signed -b 16 -L" 0 1 1 0 4096 -- vol 0.9 dither -s
seed 48k-s24 "$tmp/48000.wav" "-e signed -b 24 -L" 1 1 2 0 4096
seed 96k-s24 "$tmp/96000.wav" "-e signed -b 24 -L" 3 1 2 0 4096 -- trim 0 0.6
# Resampled within the family, from a clock 1000 ppm fast, and after silence.
seed 48k-to-96k "$tmp/48000.wav" "-e signed -b 24 -L" 3 1 2 0 4096 -- rate 96000 trim 0 0.6
seed 96k-drift "$tmp/96000.wav" "-e signed -b 24 -L" 3 1 2 0 4096 -- speed 1.001 rate 96000 trim 0 0.6
seed 44k-onset-48k "$a" "-e signed -b 24 -L" 1 1 2 0 4096 -- pad 0.1 0 rate 48000 trim 0 0.6
seed 192k-s16-stereo "$tmp/192000.wav" "-e signed -b 16 -L" 5 2 1 0 4096 -- trim 0 0.6 channels 2
# The full signal: two channels of their own, exact, halved, cut to 16 bits
# with dither, folded to one, resampled; and one channel with samples lost.
"$gen" -q -f -s full -c 2 -r 48000 -d 1 -o "$tmp/full.wav"
"$gen" -q -f -s full -r 44100 -d 1 -o "$tmp/full1.wav"
f=$tmp/full.wav
seed full-s24 "$f" "-e signed -b 24 -L" 1 2 2 0 4096 -- trim 0 0.5
seed full-gain "$f" "-e signed -b 24 -L" 1 2 2 0 777 -- trim 0 0.5 vol 0.5
seed full-16-dithered "$f" "-e signed -b 16 -L" 1 2 1 0 4096 -- trim 0 0.5 dither -s
seed full-folded "$f" "-e floating-point -b 32 -L" 1 1 8 0 4096 -- trim 0 0.5 remix 1,2
seed full-to-44k "$f" "-e signed -b 24 -L" 0 2 2 0 4096 -- trim 0 0.5 rate 44100
{ params 0 1 2 0 1000 4096; sx "$tmp/full1.wav" -t raw -e signed -b 24 -L - trim 0 9000s
  sx "$tmp/full1.wav" -t raw -e signed -b 24 -L - trim 9500s 20000s; } >"$out/analysis/full-dropout"
# A sample lost within the first window, then one lost and 50 played again
# closer together than a window.
{ params 0 1 2 0 1000 4096; sx "$tmp/full1.wav" -t raw -e signed -b 24 -L - trim 0 10s
  sx "$tmp/full1.wav" -t raw -e signed -b 24 -L - trim 11s =9000s
  sx "$tmp/full1.wav" -t raw -e signed -b 24 -L - trim 9001s =9200s
  sx "$tmp/full1.wav" -t raw -e signed -b 24 -L - trim 9150s 10000s; } >"$out/analysis/full-close-dropouts"

# Samples lost inside the span: 4 of them, 20000 in.
{ params 0 1 2 0 4096; sx "$a" -t raw -e signed -b 24 -L - trim 0 20000s
  sx "$a" -t raw -e signed -b 24 -L - trim 20004s; } >"$out/analysis/44k-dropout"

echo "fuzz-corpus: $(find "$out/reader" -type f | wc -l) reader seeds," \
  "$(find "$out/analysis" -type f | wc -l) analysis seeds in $out"
