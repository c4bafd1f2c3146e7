#!/bin/sh
# Compares the live commands' reports from two builds, for a change meant to
# leave them as they were: run in private sound servers started here by
# scripts/sound-server.sh (JACK at 48 and 96 kHz, PulseAudio at 48 kHz).
#
#   scripts/compare-live-reports.sh OLD_BIN NEW_BIN [WORK]
#
# OLD_BIN and NEW_BIN are folders holding kova-play, kova-check and
# kova-loop. Byte for byte: kova-loop through the JACK server's loopback
# ports (one duplex stream, one period late, every sample kept: the same
# report every run), a listen with nothing playing, the device lists, and
# the errors of a missing device and a rate not run exactly. A listen to
# kova-play begins at no fixed moment, so those reports are compared with
# every position and time in them masked, and their exit statuses. The
# outputs go to WORK/old and WORK/new (default build/compare-live-reports);
# the script fails, showing the difference, unless they are the same.
set -eu
cd "$(dirname "$0")/.."

if [ "${1:-}" = --inside ]; then
    # Inside a server: run one build's commands into $3/$KOVA_SOUND_SERVER-$KOVA_SOUND_RATE.
    bin=$2 out=$3/$KOVA_SOUND_SERVER-$KOVA_SOUND_RATE
    mkdir -p "$out"
    r=$KOVA_SOUND_RATE dev=$KOVA_SOUND_DEVICE
    run() {  # run NAME COMMAND...: its output, errors and status
        name=$1
        shift
        status=0
        "$@" > "$out/$name.out" 2> "$out/$name.err" || status=$?
        echo "$status" > "$out/$name.status"
    }
    # Positions and times, which depend on when the player started.
    mask() { sed -E 's/[0-9]+(\.[0-9]+)?/N/g' "$1" > "$1.masked" && rm "$1"; }
    plugin=
    [ "$KOVA_SOUND_SERVER" = pulse ] && plugin=--allow-plugin
    for p in kova-play kova-check kova-loop; do run "$p-list" "$bin/$p" --list-devices; done
    run play-missing "$bin/kova-play" -r "$r" --device no-such-device
    run play-rate "$bin/kova-play" -r 44100 --device "$dev"
    run listen-missing "$bin/kova-check" --listen no-such-device -r "$r"
    run listen-rate "$bin/kova-check" --listen "$dev" -r 44100
    run loop-missing "$bin/kova-loop" --out no-such-device --in "$dev" -r "$r"
    run listen-nothing "$bin/kova-check" --listen "$dev" -r "$r" --seconds 1 $plugin --buffer 1024
    run listen-nothing-json "$bin/kova-check" --listen "$dev" -r "$r" --seconds 1 --json $plugin --buffer 1024
    if [ "$KOVA_SOUND_SERVER" = jack ]; then
        run loop "$bin/kova-loop" --out "$dev" --in "$dev" -r "$r" -d 2
        run loop-json "$bin/kova-loop" --out "$dev" --in "$dev" -r "$r" -d 1 --json
        run loop-expect "$bin/kova-loop" --out "$dev" --in "$dev" -r "$r" -d 3 --buffer 1024
    fi
    for json in "" --json; do
        name=listen-play$json
        "$bin/kova-check" --listen "$dev" -r "$r" --seconds 4 $json $plugin --buffer 1024 \
            > "$out/$name.out" 2> "$out/$name.err" &
        listener=$!
        sleep 1
        "$bin/kova-play" -r "$r" -d 1 --device "$dev" $plugin --buffer 1024 > "$out/play$json.out" 2>&1 || true
        status=0
        wait "$listener" || status=$?
        echo "$status" > "$out/$name.status"
        mask "$out/$name.out"
        mask "$out/$name.err"
        mask "$out/play$json.out"
    done
    exit 0
fi

old=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
work=${3:-build/compare-live-reports}
rm -rf "$work/old" "$work/new"
mkdir -p "$work/old" "$work/new"
work=$(cd "$work" && pwd)
self=$(pwd)/scripts/compare-live-reports.sh
for server in "jack --rate 48000" "jack --rate 96000" "pulse --rate 48000"; do
    for side in old new; do
        bin=$old
        [ $side = new ] && bin=$new
        # shellcheck disable=SC2086
        scripts/sound-server.sh $server -- "$self" --inside "$bin" "$work/$side"
    done
done
if diff -r "$work/old" "$work/new"; then
    echo "compare-live-reports: $(find "$work/old" -type f | wc -l) outputs, the same from both builds"
else
    echo "compare-live-reports: the outputs differ" >&2
    exit 1
fi
