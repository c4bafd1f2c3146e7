#!/usr/bin/env bash
# Runs a command inside a private sound server that needs no sound card,
# started for it in user space and stopped by its process id however the
# command ends:
#
#   scripts/sound-server.sh jack  [--rate RATE] -- COMMAND...
#   scripts/sound-server.sh pulse [--rate RATE] [--realtime] -- COMMAND...
#
# jack   jackd with the dummy driver (device "system") and a loopback
#        driver of two ports (device "loopback"): what one stream plays to
#        "loopback" comes back on its own inputs one period later, sample for
#        sample. Between two programs, connect one's output ports straight to
#        the other's inputs instead: a period late through the loopback
#        driver is a period repeated or lost, where a client feeding a client
#        is waited for. PortAudio itself refuses every rate but the server's.
# pulse  PulseAudio with a null sink "kova" (float32le) whose monitor is the
#        default source, reached through ALSA's pulse plugin (PortAudio device
#        "pulse"). The sink is told not to rewind: a rewinding null sink's
#        monitor repeats samples. Buffers of 1024 frames and 50 ms keep every
#        sample; PortAudio's small defaults let the sink run dry. The plugin
#        takes any rate and PulseAudio resamples it to the sink's without a
#        word, so only RATE is exact. Wine programs reach it too, through
#        Wine's PulseAudio driver or its ALSA driver and the same plugin
#        (scripts/wine-ctest.sh --audio). --realtime runs the sink's thread
#        real-time where allowed: late, a null sink takes all it missed at
#        once, more than Wine keeps ahead of it (three periods), and no
#        client can tell.
#
# The command sees KOVA_SOUND_SERVER (jack or pulse), KOVA_SOUND_RATE and
# KOVA_SOUND_DEVICE (the PortAudio device that loops back), the server's
# address (JACK_DEFAULT_SERVER, or PULSE_SERVER) and its log
# (KOVA_SOUND_LOG). PulseAudio logs at debug level, where it says of each
# stream that ran dry "Implicit underrun of '...'": what a Wine program's
# driver hides from it. The server's files live in
# a private folder removed at the end; it never reads or writes the user's
# own configuration, and its name is unique to this run, so several runs and
# a user's own server do not meet. Works as root and as anyone else.
# Exit status: the command's; 125 when the server did not start.
set -euo pipefail

usage() {
  echo "usage: $0 jack|pulse [--rate RATE] [--realtime] -- COMMAND..." >&2
  exit 2
}

[[ $# -ge 1 ]] || usage
kind=$1
shift
rate=48000
realtime=no
while [[ $# -gt 0 && $1 != -- ]]; do
  case $1 in
    --rate) [[ $# -ge 2 ]] || usage; rate=$2; shift 2 ;;
    --realtime) realtime=yes; shift ;;
    *) usage ;;
  esac
done
[[ $# -ge 2 && $1 == -- ]] || usage
shift
[[ $kind == jack || $kind == pulse ]] || usage

dir=$(mktemp -d "${TMPDIR:-/tmp}/kova-sound.XXXXXX")
name=kova-$$-${dir##*.}
log=$dir/server.log
pid=

# Whatever happens: the server is asked to stop, then made to, by its pid.
stop_server() {
  if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
      kill -KILL "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
  fi
  # jackd keeps its sockets and semaphores in /dev/shm whatever the
  # environment; a killed one leaves them behind under this run's name.
  rm -f /dev/shm/jack_"$name"_* /dev/shm/jack_sem.*_"$name"_* 2>/dev/null || true
  rm -rf "$dir"
}
trap stop_server EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# The daemon's own environment: nothing of the caller's home or session.
daemon_env=(env -i PATH="$PATH" HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config"
            XDG_RUNTIME_DIR="$dir/run" LANG=C)
mkdir -p "$dir/home/.config" "$dir/run"
chmod 700 "$dir/run"

# wait_until DESCRIPTION COMMAND...: a bounded poll, giving up early if the
# server has died.
wait_until() {
  local what=$1
  shift
  for _ in $(seq 100); do
    if "$@" >/dev/null 2>&1; then
      return 0
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  echo "sound-server: $kind did not become ready ($what); its log:" >&2
  sed 's/^/  /' "$log" >&2 || true
  exit 125
}

case $kind in
  jack)
    # Real-time where allowed (root, or an rtprio limit), so that a busy
    # machine does not make the server miss its cycle; elsewhere jackd says
    # so in its log and runs all the same. -L, since jackd 1.9.21 crashes on
    # its long form, --loopback.
    "${daemon_env[@]}" JACK_NO_START_SERVER=1 \
      jackd --realtime --name "$name" -L 2 \
      -d dummy --rate "$rate" --period 1024 --capture 2 --playback 2 >"$log" 2>&1 &
    pid=$!
    export JACK_DEFAULT_SERVER=$name JACK_NO_START_SERVER=1
    wait_until "loopback ports" jack_lsp loopback:playback_1
    export KOVA_SOUND_DEVICE=loopback
    ;;
  pulse)
    cat >"$dir/server.pa" <<EOF
load-module module-null-sink sink_name=kova rate=$rate format=float32le channels=2 norewinds=1
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
set-default-sink kova
set-default-source kova.monitor
EOF
    # As root PulseAudio warns but runs per user, which is what is wanted:
    # --system would mean the shared system instance.
    "${daemon_env[@]}" PULSE_RUNTIME_PATH="$dir/run/pulse" PULSE_STATE_PATH="$dir/state" \
      pulseaudio -n -F "$dir/server.pa" --daemonize=no --system=no --use-pid-file=no \
      --exit-idle-time=-1 --realtime=$realtime --high-priority=$realtime --log-level=debug \
      --log-target=stderr >"$log" 2>&1 &
    pid=$!
    printf 'autospawn = no\n' >"$dir/client.conf"
    # The clients' own files (cookie, runtime folder) stay here too.
    export PULSE_SERVER=unix:$dir/native PULSE_CLIENTCONFIG=$dir/client.conf PULSE_COOKIE=$dir/cookie \
      PULSE_RUNTIME_PATH=$dir/run/client
    wait_until "null sink" bash -c 'pactl list short sinks | grep -q "^[0-9]*[[:space:]]kova[[:space:]]"'
    export KOVA_SOUND_DEVICE=pulse
    ;;
esac

export KOVA_SOUND_SERVER=$kind KOVA_SOUND_RATE=$rate KOVA_SOUND_LOG=$log
status=0
"$@" || status=$?
exit "$status"
