#!/usr/bin/env bash
# av_sync.sh CLI AV_BEEPS [RUNS]
# A/V alignment of corvane-cli's recordings of a captured input. The runner
# plays a clip with a white frame at every whole second and records 14 s with
# --audio qtest.monitor; av-beeps writes silence into the sink "qtest" of a
# private PulseAudio server (through pacat, its samples due at their time),
# with a 50 ms beep at every whole
# second from the runner's first frame + 3 s. In each MP4 every beep onset
# (silencedetect) is paired with the nearest white frame (signalstats); the
# offset is beep minus picture. Prints each run's median and worst, then the
# median and worst of all runs and the load average. Fails when a run has no
# pair, or, when AV_SYNC_LIMIT_MS is set, when the worst offset exceeds it: the
# offset is a figure of the machine's load, so the suite only prints it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${AV_SYNC_INSIDE:-}" ]; then
  exec env AV_SYNC_INSIDE=1 WITH_PULSE_TONE=off "$here/with-pulse.sh" "$0" "$@"
fi
[ $# -ge 2 ] || { echo "usage: $0 CLI AV_BEEPS [RUNS]" >&2; exit 2; }
cli=$1 beeps=$2 runs=${3:-10} limit=${AV_SYNC_LIMIT_MS:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/av-sync-XXXXXX")
cli_pid="" beep_pid=""
cleanup() {
  [ -n "$beep_pid" ] && kill "$beep_pid" 2>/dev/null || true
  [ -n "$cli_pid" ] && kill "$cli_pid" 2>/dev/null || true
  [ -n "${AV_SYNC_KEEP:-}" ] && echo "kept $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT

ffmpeg -nostdin -v error -f lavfi \
  -i "color=c=black:s=640x360:r=30:d=20,drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:enable='eq(mod(n\,30)\,0)'" \
  -c:v libx264 -preset ultrafast -g 30 -pix_fmt yuv420p "$work/clip.mp4"

# Offsets in ms of one recording, one per beep.
offsets() {
  local file=$1
  ffmpeg -nostdin -v error -i "$file" -an -fps_mode passthrough \
    -vf "signalstats,metadata=mode=print:key=lavfi.signalstats.YAVG:file=$work/luma.txt" -f null - 
  # An onset is a silence's end that another silence follows: the file's
  # end also ends a silence.
  ffmpeg -nostdin -v info -i "$file" -vn -af silencedetect=noise=-30dB:duration=0.3 -f null - 2>&1 |
    awk '/silence_end:/ { split($0, e, "silence_end: "); split(e[2], t, " "); onset = t[1] }
         /silence_start:/ { if (onset != "") print onset; onset = "" }' >"$work/onsets.txt"
  awk -v onsets="$work/onsets.txt" '
    /^frame:/ { split($3, t, ":"); time = t[2] }
    /YAVG=/ { split($0, v, "="); if (v[2] > 128) flash[n++] = time }
    END {
      while ((getline beep < onsets) > 0) {
        best = 1e9
        for (i = 0; i < n; ++i) { d = beep - flash[i]; if (d * d < best * best) best = d }
        if (best < 0.5 && best > -0.5) printf "%.1f\n", best * 1000
      }
    }' "$work/luma.txt"
}

stats() {  # median and worst |x| of the numbers on standard input
  sort -g | awk '{ x[n++] = $1; a = $1 < 0 ? -$1 : $1; if (a > w) w = a }
    END { if (n == 0) { print "none"; exit 1 }
          m = n % 2 ? x[(n - 1) / 2] : (x[n / 2 - 1] + x[n / 2]) / 2; printf "median %.1f ms worst %.1f ms (%d beeps)\n", m, w, n }'
}

: >"$work/all.txt"
for run in $(seq "$runs"); do
  rec="$work/rec$run"
  mkdir -p "$rec"
  "$cli" "$work/clip.mp4" --audio qtest.monitor --seconds 14 --types 1 --record-dir "$rec" \
    --size 640x360 --fps 30 --no-vcam >"$rec/out" 2>"$rec/err" &
  cli_pid=$!
  for _ in $(seq 600); do
    grep -qs '^first frame pkt_duration' "$rec/out" && break
    kill -0 "$cli_pid" 2>/dev/null || break
    sleep 0.05
  done
  first=$(sed -n 's/^first frame pkt_duration \([0-9]*\) us$/\1/p' "$rec/out")
  [ -n "$first" ] || { echo "run $run: the runner showed no frame" >&2; cat "$rec/err" >&2; exit 1; }
  "$beeps" $((first + 3000000)) 13 |
    pacat --playback --device=qtest --format=s16le --rate=44100 --channels=2 --raw --latency-msec=50 &
  beep_pid=$!
  wait "$cli_pid" || { echo "run $run: the runner failed" >&2; cat "$rec/err" >&2; exit 1; }
  cli_pid=""
  wait "$beep_pid" || true
  beep_pid=""
  offsets "$rec"/*.mp4 >"$rec/offsets.txt"
  [ -s "$rec/offsets.txt" ] || { echo "run $run: no beep beside a white frame" >&2; exit 1; }
  echo "run $run: $(stats <"$rec/offsets.txt"): $(tr '\n' ' ' <"$rec/offsets.txt")"
  cat "$rec/offsets.txt" >>"$work/all.txt"
done
summary=$(stats <"$work/all.txt")
echo "all $runs runs: $summary; load average $(cut -d' ' -f1-3 /proc/loadavg)"
worst=$(sed -n 's/.*worst \([0-9.]*\) ms.*/\1/p' <<<"$summary")
[ -z "$limit" ] || awk -v w="$worst" -v l="$limit" 'BEGIN { exit !(w <= l) }'
