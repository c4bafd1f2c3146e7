#!/bin/sh
# Compares kova-check's reports from two builds on one set of captures, for a
# change meant to leave every report as it was: exact files at every rate
# and in every container and format read, and what real chains do to them
# (gains, offsets, filters, codecs, dropouts, inserted silence, resampling,
# clock drift, noise, silence alone, files cut short, damaged headers).
#
#   scripts/compare-reports.sh OLD_BIN NEW_BIN [WORK]
#
# OLD_BIN and NEW_BIN are folders holding kova-gen and kova-check. The
# captures are made once into WORK (default build/compare-reports) with
# OLD_BIN's kova-gen, sox and ffmpeg; each build's text and JSON reports,
# exit statuses and errors then go to WORK/old and WORK/new, and the
# script fails, showing the difference, unless they are the same byte for
# byte.
set -eu

old=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
work=${3:-build/compare-reports}
mkdir -p "$work/caps"
work=$(cd "$work" && pwd)
caps=$work/caps

make_captures() {
    cd "$caps"
    gen=$old/kova-gen
    for r in 44100 48000 88200 96000 176400 192000; do "$gen" -q -r $r -d 1 -o k${r}_1.wav; done
    for r in 44100 48000 192000; do "$gen" -q -r $r -d 10 -o k${r}_10.wav; done
    "$gen" -q -s full -c 2 -r 48000 -d 1 -o full2.wav

    # Containers and sample formats that keep every word.
    sox k48000_1.wav -b 16 s16.wav
    sox k48000_1.wav -b 32 s32.wav
    sox k48000_1.wav -e floating-point -b 32 f32.wav
    sox k48000_1.wav -e floating-point -b 64 f64.wav
    sox k48000_1.wav k.aiff
    sox k48000_1.wav k.flac
    sox k96000_1.wav -t w64 k.w64
    ffmpeg -v error -i k44100_1.wav -c:a pcm_s24le -rf64 always rf64.wav
    ffmpeg -v error -i k48000_1.wav -c:a pcm_s24le k.caf
    ffmpeg -v error -i k48000_1.wav -ac 2 -c:a pcm_s24le stereo.wav
    sox -n -r 48000 -b 24 -c 1 z1.wav trim 0 1
    sox -M k48000_1.wav z1.wav half_stereo.wav
    sox -M z1.wav k48000_1.wav k48000_1.wav z1.wav quad.wav

    # Levels: exact gains, an inversion, offsets, filters, a codec.
    sox k48000_10.wav -D halved.wav vol 0.5
    sox k48000_1.wav -D flipped.wav vol -1
    for c in s24le s32le f32le; do
        ffmpeg -v error -i k48000_1.wav -af volume=-6dB -c:a pcm_$c v_$c.wav
    done
    ffmpeg -v error -i k48000_1.wav -af volume=1.0002 -c:a pcm_s32le vol32.wav
    ffmpeg -v error -i k48000_1.wav -af volume=1.0002 -c:a pcm_f32le volf.wav
    ffmpeg -v error -i k48000_1.wav -af dcshift=4e-8 -c:a pcm_s32le dc32.wav
    sox k48000_1.wav -b 32 gain32.wav gain 0.001
    sox k48000_1.wav -D d42.wav vol 0.0078125
    sox k48000_1.wav -D dc.wav dcshift 0.000244140625
    sox k48000_1.wav -D hp.wav highpass 10
    sox k48000_1.wav -D lp.wav lowpass 10000
    ffmpeg -v error -i k48000_1.wav -c:a libopus -b:a 256k o.opus
    ffmpeg -v error -i o.opus -c:a pcm_s24le opus.wav
    sox k48000_1.wav -D faded.wav fade t 0.2 0 0.2

    # Dropouts, deletions, inserted silence, repeated samples, cuts.
    sox k48000_10.wav a.wav trim 0 200000s
    sox k48000_10.wav b.wav trim 200025s
    sox a.wav b.wav del25.wav
    sox k48000_10.wav b2.wav trim 248000s
    sox a.wav b2.wav lost1s.wav
    sox k48000_10.wav t.wav trim 48000s
    sox z1.wav t.wav muted.wav
    sox -n -r 48000 -b 24 -c 1 z100.wav trim 0 100s
    sox a.wav z100.wav b.wav silence_in.wav
    sox k48000_10.wav r1.wav trim 199999s 1s
    sox a.wav r1.wav b.wav repeated.wav
    sox k48000_10.wav a2.wav trim 0 100000s
    sox k48000_10.wav b3.wav trim 100000s 50000s
    sox k48000_10.wav c3.wav trim 160000s
    sox a2.wav b3.wav c3.wav two_dropouts.wav
    sox k192000_10.wav late.wav trim 1000s
    sox k192000_10.wav early.wav trim 0 9.5
    sox k44100_10.wav -b 24 short.wav trim 0.3 0.4
    sox -n -r 48000 -b 24 -c 1 z05.wav trim 0 0.5
    sox z05.wav k48000_1.wav z05.wav padded.wav
    sox k192000_10.wav a192.wav trim 0 777777s
    sox k192000_10.wav b192.wav trim 777784s
    sox a192.wav b192.wav del192.wav
    sox k96000_1.wav a96.wav trim 0 30001s
    sox k96000_1.wav b96.wav trim 30000s
    sox a96.wav b96.wav rep96.wav
    sox del25.wav -D gain_dropout.wav vol 0.25
    sox k44100_10.wav a44.wav trim 0 3s
    sox k44100_10.wav b44.wav trim 4410s
    sox -n -r 44100 -b 24 -c 1 z44.wav trim 0 100s
    sox a44.wav z44.wav b44.wav early_gap44.wav

    # Resampled, across and within a family, and clocks apart.
    sox k44100_10.wav sox48.wav rate 48000
    ffmpeg -v error -i k44100_10.wav -af aresample=48000 -c:a pcm_s24le ff48.wav
    gst-launch-1.0 -q filesrc location=k44100_10.wav ! wavparse ! audioconvert ! audioresample \
        ! audio/x-raw,rate=48000,format=S24LE ! wavenc ! filesink location=gst48.wav
    sox k48000_1.wav -b 24 up96.wav rate -v 96000
    sox k192000_1.wav -b 24 down44.wav rate -v 44100
    sox k48000_1.wav -b 24 up192.wav rate -v 192000
    sox k96000_1.wav -b 16 down16.wav rate -v 48000
    ffmpeg -v error -i k192000_1.wav -af aresample=44100 -c:a pcm_s24le swr44.wav
    sox k48000_1.wav -D hp_up96.wav rate -v 96000 highpass 10
    ffmpeg -v error -i k48000_1.wav -af aresample=96000:resampler=soxr -c:a pcm_s24le soxr96.wav
    ffmpeg -v error -i k48000_10.wav -af asetrate=48001,aresample=48000 -c:a pcm_s24le drift.wav
    sox k44100_1.wav -b 24 speed.wav speed 1.001 rate -v 44100
    ffmpeg -v error -i k192000_10.wav -af asetrate=192192,aresample=192000 -c:a pcm_s24le drift192.wav
    sox drift.wav dr1.wav trim 0 3
    sox drift.wav dr2.wav trim 3.5
    sox dr1.wav dr2.wav drift_gap.wav
    sox -n -r 48000 -b 24 -c 1 s48.wav trim 0 1.5
    sox s48.wav k48000_1.wav s48k.wav
    ffmpeg -v error -i s48k.wav -af aresample=96000:resampler=soxr -c:a pcm_s24le after_silence96.wav

    # Silence, noise, and the pattern under noise.
    sox -n -r 48000 -b 24 -c 1 silence.wav trim 0 2
    sox -n -r 48000 -b 24 -c 1 noise.wav synth 2 whitenoise vol 0.01
    sox -n -r 48000 -b 24 -c 1 quiet_noise.wav synth 1 whitenoise vol 0.00005
    sox -m k48000_1.wav quiet_noise.wav noisy.wav
    sox noise.wav k48000_1.wav noise.wav noise_around.wav
    sox -n -r 48000 -b 24 -c 1 tone.wav synth 1 sine 1000 vol 0.1

    # Damaged and odd files.
    head -c 30 k48000_1.wav > header_cut.wav
    head -c 100000 k48000_1.wav > body_cut.wav
    : > empty.wav
    head -c 4096 /dev/urandom > random.bin
    printf 'RIFF\377\377\377\377WAVEfmt ' > riff_only.wav
}

if [ ! -f "$caps/.made" ]; then
    (make_captures)
    : > "$caps/.made"
fi

run() {
    bin=$1 out=$2
    rm -rf "$out"
    mkdir -p "$out"
    cd "$caps"
    for f in $(ls | sort); do
        for mode in text json; do
            flags=
            [ $mode = json ] && flags=--json
            status=0
            "$bin/kova-check" $flags "$f" > "$out/$f.$mode" 2> "$out/$f.$mode.err" || status=$?
            echo "$status" > "$out/$f.$mode.status"
        done
    done
    # Several files in one run, expectations, partial captures, a stream.
    status=0
    "$bin/kova-check" --expect-rate 48k --expect-duration 10s k48000_10.wav halved.wav del25.wav lost1s.wav \
        > "$out/expect.txt" 2>&1 || status=$?
    echo "$status" >> "$out/expect.txt"
    status=0
    "$bin/kova-check" --json --expect-duration 10 k48000_1.wav del25.wav early.wav two_dropouts.wav \
        > "$out/expect.json" 2>&1 || status=$?
    echo "$status" >> "$out/expect.json"
    status=0
    "$bin/kova-check" --partial-ok late.wav early.wav short.wav > "$out/partial.txt" 2>&1 || status=$?
    echo "$status" >> "$out/partial.txt"
    status=0
    "$bin/kova-check" --expect-duration 1m k48000_1.wav > "$out/expect_1m.txt" 2>&1 || status=$?
    echo "$status" >> "$out/expect_1m.txt"
    status=0
    "$bin/kova-check" - < del25.wav > "$out/stdin.txt" 2>&1 || status=$?
    echo "$status" >> "$out/stdin.txt"
    status=0
    "$bin/kova-check" --json - < drift.wav > "$out/stdin.json" 2>&1 || status=$?
    echo "$status" >> "$out/stdin.json"
    status=0
    "$bin/kova-check" missing.wav > "$out/missing.txt" 2>&1 || status=$?
    echo "$status" >> "$out/missing.txt"
}

(run "$old" "$work/old")
(run "$new" "$work/new")
if diff -r "$work/old" "$work/new"; then
    echo "compare-reports: $(ls "$caps" | wc -l) captures, the same reports from both builds"
else
    echo "compare-reports: the reports differ" >&2
    exit 1
fi
