#!/usr/bin/env bash
# End-to-end check of the virtual camera: a media file played through the
# engine by the media-file runner `pelorn-play`, read back by qndl-vcam.
# Not part of ctest: run it by hand with a tree where pelorn-play is built.
#
#   tests/vcam/e2e_vcam.sh [BUILD_DIR]          (default: build)
#
# Steps: make a 4 s 640x360 25 fps test clip with ffmpeg; start qndl-vcam on
# the real block names, writing a y4m stream; play the clip through the
# engine (virtual camera on); stop the consumer with SIGTERM; check with
# ffprobe that the stream has the clip's size and (nearly) all its frames,
# and that they are not black.
#
# The runner is run as
#   pelorn-play CLIP --size 640x360 --format bgra --fps 25 --frames 100
# (the virtual camera is on unless --no-vcam). Set PELORN_PLAY_CMD to another
# command line (CLIP stands for the clip's path) and E2E_WIDTH / E2E_HEIGHT
# when the output size differs.
#
# The engine uses the real names "Global\QndlShareMemT" and
# "Global\KpEvtShowTestKp": no other engine may run meanwhile.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
play=$build/tools/pelorn-play
vcam=$build/bin/qndl-vcam
width=${E2E_WIDTH:-640}
height=${E2E_HEIGHT:-360}
frames=100  # 4 s at 25 fps

if [ ! -x "$play" ] && [ -z "${PELORN_PLAY_CMD:-}" ]; then
    echo "e2e_vcam: $play is not built yet; nothing to check"
    exit 77
fi
[ -x "$vcam" ] || { echo "e2e_vcam: build qndl-vcam first ($vcam)"; exit 1; }

work=$(mktemp -d /tmp/qndl-e2e-XXXXXX)
consumer=""
cleanup() {
    [ -n "$consumer" ] && kill "$consumer" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

clip=$work/clip.mp4
ffmpeg -loglevel error -f lavfi -i "testsrc2=size=640x360:rate=25" -frames:v $frames \
    -pix_fmt yuv420p "$clip"

"$vcam" --y4m --fps 25 --out "$work/vcam.y4m" 2>"$work/vcam.log" &
consumer=$!

command=${PELORN_PLAY_CMD:-"$play CLIP --size ${width}x$height --format bgra --fps 25 --frames $frames"}
command=${command//CLIP/$clip}
echo "e2e_vcam: $command"
bash -c "$command"

sleep 1  # the last frames reach the consumer
kill -TERM "$consumer"
status=0
wait "$consumer" || status=$?
consumer=""
cat "$work/vcam.log"
[ "$status" -eq 0 ] || { echo "e2e_vcam: qndl-vcam exited with $status"; exit 1; }

probe=$(ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=width,height,nb_read_frames -of csv=p=0 "$work/vcam.y4m")
IFS=, read -r got_width got_height got_frames <<<"$probe"
echo "e2e_vcam: ${got_width}x${got_height}, $got_frames frames read back of $frames"
[ "$got_width" = "$width" ] && [ "$got_height" = "$height" ] || { echo "e2e_vcam: wrong size"; exit 1; }
# The output queue drops the oldest frames only when more than six wait.
[ "$got_frames" -ge $((frames * 9 / 10)) ] || { echo "e2e_vcam: frames missing"; exit 1; }

luma=$(ffprobe -v error -f lavfi -i "movie=$work/vcam.y4m,signalstats" \
    -show_entries frame_tags=lavfi.signalstats.YAVG -of csv=p=0 | sort -n | tail -1)
echo "e2e_vcam: brightest frame's mean luma $luma"
awk -v y="$luma" 'BEGIN { exit !(y > 40) }' || { echo "e2e_vcam: the frames are black"; exit 1; }
echo "e2e_vcam: passed"
