#!/usr/bin/env bash
# End-to-end check of the virtual camera: a numbered clip played through the
# engine by pelorn-play at 1920x1080 BGRA 30 fps with the virtual camera on,
# read back by qndl-vcam for 20 s as a raw stream converted to YUYV, as a
# device gets it by default, into vcam_stream_check.
#
#   e2e_vcam.sh PELORN_PLAY QNDL_VCAM VCAM_STREAM_CHECK CLIP [TABLE_CACHE]
#
# Passes when every frame the reader got is readable and in order (at least
# a tenth of 20 s worth of frames: a busy machine may deliver half of them
# or less), every gap in the numbers is accounted for by
# a drop the system counts (the engine's queue drops, or the ring found full:
# a reader that falls behind on a loaded machine loses frames by design, a
# ring that loses them otherwise is broken), and the console callback's
# camera state turned 1 and back to 0 within 4.5 s of the reader starting and
# stopping. The engine checks the reader's heartbeat every 600 ms and wants
# three checks in a row, so about 2 s each way; a reader that lags behind a
# frame in slot 19 leaves that frame's pixel in the heartbeat word for one
# check, which can cost three more. The measured figures are printed.
#
set -euo pipefail

play=$1 vcam=$2 check=$3 clip=$4 tables=${5:-}
width=1920 height=1080 fps=30 read_seconds=20

export QUINDLE_CPU_BRAND="${QUINDLE_CPU_BRAND:-Intel(R) Xeon(R) CPU (stand-in for the CI machine)}"
work=$(mktemp -d /tmp/qndl-e2e-XXXXXX)
export HOME=$work/home XDG_DATA_HOME=$work/home/data XDG_CONFIG_HOME=$work/home/config \
    XDG_STATE_HOME=$work/home/state
mkdir -p "$XDG_DATA_HOME/Raxev" "$XDG_CONFIG_HOME" "$XDG_STATE_HOME"
# Names of this run's own, so that an engine running beside it is not met.
export QUINDLE_VCAM_SUFFIX="_e2e_$$"
# The colour tables take a while to build; a prebuilt copy serves.
[ -n "$tables" ] && [ -f "$tables" ] && ln -s "$tables" "$XDG_DATA_HOME/Raxev/ClrFloat.map"

player="" consumer="" checker=""
cleanup() {
    for pid in $consumer $player $checker; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

now() { date +%s.%N; }
fail() { echo "e2e_vcam: $*"; exit 1; }

# Waits up to $2 seconds for the regular expression $1 in the player's log.
await_line() {
    local pattern=$1 limit=$2 waited=0
    until grep -q -- "$pattern" "$work/play.log"; do
        kill -0 "$player" 2>/dev/null || { cat "$work/play.log"; fail "pelorn-play ended early"; }
        [ "$waited" -lt $((limit * 10)) ] || return 1
        sleep 0.1
        waited=$((waited + 1))
    done
}

"$play" "$clip" --size ${width}x$height --format bgra --fps $fps --seconds 36 \
    >"$work/play.log" 2>&1 &
player=$!
await_line '^playing ' 60 || fail "pelorn-play did not start"
sleep 3  # the ring fills up with nobody reading

mkfifo "$work/stream"
"$check" $width $height $((read_seconds * fps / 10)) yuyv <"$work/stream" >"$work/check.log" &
checker=$!
reader_start=$(now)
"$vcam" --name "Global\\QndlShareMemT$QUINDLE_VCAM_SUFFIX" \
    --event "Global\\KpEvtShowTestKp$QUINDLE_VCAM_SUFFIX" --out "$work/stream" --pix yuyv \
    2>"$work/vcam.log" &
consumer=$!
sleep $read_seconds
reader_stop=$(now)
kill -TERM "$consumer"
vcam_status=0
wait "$consumer" || vcam_status=$?
consumer=""
check_status=0
wait "$checker" || check_status=$?
checker=""

await_line 'virtual camera in use 0' 8 || true
kill -TERM "$player" 2>/dev/null || true
wait "$player" || true
player=""

grep -v '^\[' "$work/play.log" || true
tail -n 2 "$work/vcam.log"
cat "$work/check.log"
[ "$vcam_status" -eq 0 ] || fail "qndl-vcam exited with $vcam_status"
[ "$check_status" -eq 0 ] || fail "the frames read back are not readable and in order"
gaps=$(sed -n 's/.* gaps \([0-9]*\) .*/\1/p' "$work/check.log")
engine_drops=$(sed -n 's/.*drops queue-full \([0-9]*\) low-latency \([0-9]*\).*/\1 + \2/p' \
    "$work/play.log" | tail -n 1)
ring_full=$(sed -n 's/.*total read [0-9]* missed [0-9]* full \([0-9]*\) .*/\1/p' "$work/vcam.log")
[ -n "$gaps" ] && [ -n "$engine_drops" ] && [ -n "$ring_full" ] || fail "a figure is missing"
if [ "$gaps" -gt 0 ] && [ $((engine_drops)) -eq 0 ] && [ "$ring_full" -eq 0 ]; then
    fail "$gaps gaps with no engine drop and no full ring: the ring lost frames"
fi

# The clock of the first change to 1 and of the first change to 0 after it.
on=$(sed -n 's/^virtual camera in use 1 (clock \([0-9.]*\) s)$/\1/p' "$work/play.log" | head -n 1)
off=$(sed -n 's/^virtual camera in use 0 (clock \([0-9.]*\) s)$/\1/p' "$work/play.log" | head -n 1)
[ -n "$on" ] || fail "the camera state never turned 1"
[ -n "$off" ] || fail "the camera state never turned back to 0"
awk -v start="$reader_start" -v stop="$reader_stop" -v on="$on" -v off="$off" 'BEGIN {
    printf "e2e_vcam: camera state 1 after %.2f s of reading, 0 %.2f s after the reader stopped\n",
           on - start, off - stop
    exit !(on > start && on - start <= 4.5 && off > stop && off - stop <= 4.5)
}' || fail "the camera state changed too late"
echo "e2e_vcam: passed"
