#!/usr/bin/env bash
# The runner on the 1080p30 camera stand-ins, output 1920 x 1080 BGRA with
# matting on: the raw one (lavfi, paced in real time) and a pipe of webcam-like
# MJPEG pictures written at 30 fps. Prints, for each, the line on Open and the
# first frame, the figures of the first second and the summary line.
#
#   bench/camera_play.sh [SECONDS]      (20 unless given)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export QUINDLE_CPU_BRAND="${QUINDLE_CPU_BRAND:-Intel(R) Xeon(R) CPU (stand-in for the CI machine)}"
build="${QUINDLE_BUILD_DIR:-$root/build}"
seconds="${1:-20}"
nice cmake --build "$build" -j2 --target pelorn-play camera_test_media >/dev/null
play="$build/tools/pelorn-play"
clip="$build/tests/engine/media/cam_1920x1080_30.mjpeg"

figures() { grep -E '^(open|summary|\[ +1 s\])' || true; }

echo "raw YUYV stand-in:"
"$play" --camera-standin \
    "Desk|1920x1080@30|lavfi|testsrc2=size=1920x1080:rate=30,format=yuyv422,realtime" \
    --size 1920x1080 --format bgra --seconds "$seconds" | figures

# A raw MJPEG clip has no rate of its own: without -framerate the writer's
# -re would pace it at the demuxer's default of 25 fps.
echo "MJPEG pipe stand-in:"
set +o pipefail
ffmpeg -nostdin -v quiet -re -framerate 30 -stream_loop -1 -i "$clip" -c copy -f mjpeg - |
    "$play" --camera-standin "Desk|1920x1080@30|mjpeg|pipe:0" \
        --size 1920x1080 --format bgra --seconds "$seconds" | figures
