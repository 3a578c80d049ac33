#!/bin/sh
# pelorn-play on cameras: a stand-in plays, an unknown camera is refused.
# $1: the pelorn-play program.
set -u
play=$1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_STATE_HOME="$home/state"
unset QUINDLE_CAMERA_STANDIN

"$play" --no-vcam --seconds 3 --size 640x360 \
    --camera-standin "Stand-in|640x360@30|lavfi|testsrc2=size=640x360:rate=30,format=yuyv422,realtime" \
    >"$home/standin.out" 2>&1
status=$?
cat "$home/standin.out"
[ $status -eq 0 ] || { echo "stand-in: exit $status, expected 0"; exit 1; }
grep -q "first frame" "$home/standin.out" || { echo "stand-in: no first-frame line"; exit 1; }

"$play" --no-vcam --seconds 1 --camera NoSuchCam >"$home/missing.out" 2>&1
status=$?
cat "$home/missing.out"
[ $status -eq 1 ] || { echo "missing camera: exit $status, expected 1"; exit 1; }
grep -q "不支持的输出格式" "$home/missing.out" || { echo "missing camera: text not shown"; exit 1; }
