#!/usr/bin/env bash
# with-pulse.sh CMD [ARG...]
# Runs CMD beside a private PulseAudio server whose null sink "qtest" plays a
# 1 kHz tone (capture it from "qtest.monitor"). The server lives in a
# temporary folder, clients reach it only through PULSE_SERVER, autospawn is
# off, and the user's own server is never touched. Exits with CMD's status.
# WITH_PULSE_TONE=off leaves the sink silent for CMD's own sound.
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 CMD [ARG...]" >&2; exit 2; }

dir=$(mktemp -d "${TMPDIR:-/tmp}/with-pulse-XXXXXX")
server_pid="" tone_pid=""
cleanup() {
  [ -n "$tone_pid" ] && kill "$tone_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

mkdir -p "$dir/home" "$dir/run"
echo "autospawn = no" >"$dir/client.conf"
export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" PULSE_RUNTIME_PATH="$dir/run"
export XDG_CONFIG_HOME="$dir/home/.config" PULSE_CLIENTCONFIG="$dir/client.conf"
export PULSE_SERVER="unix:$dir/run/native"

pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=file:"$dir/server.log" \
  -L "module-native-protocol-unix socket=$dir/run/native auth-anonymous=1" \
  -L "module-null-sink sink_name=qtest sink_properties=device.description=qtest" &
server_pid=$!

for _ in $(seq 100); do
  pactl info >/dev/null 2>&1 && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$dir/server.log" >&2; exit 1; }
  sleep 0.1
done
pactl info >/dev/null 2>&1 || { echo "with-pulse: the server did not answer" >&2; exit 1; }

if [ "${WITH_PULSE_TONE:-on}" != off ]; then
  ffmpeg -nostdin -loglevel quiet -f lavfi -i sine=frequency=1000:sample_rate=44100 -ac 2 -f s16le - 2>/dev/null |
    pacat --playback --device=qtest --format=s16le --rate=44100 --channels=2 --raw 2>/dev/null &
  tone_pid=$!
fi

set +e
"$@"
status=$?
exit "$status"
