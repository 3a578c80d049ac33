#!/usr/bin/env bash
# The main job: set up and build, then start the console on the sample clip.
#
# Where an X display answers, the console starts there and runs until it is
# closed. Without one (CI), or with --headless: take the engine through
# create, open without a source, stop and release, play the sample clip
# through it, measure the per-frame bookkeeping, then run the console under
# an X server of its own for 10 s and print its figures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
headless=0
if [ "${1:-}" = "--headless" ]; then headless=1; fi
# The engine accepts Intel processors only; the CI machines are AMD. Judge
# them by a stand-in brand unless the caller names one.
export QUINDLE_CPU_BRAND="${QUINDLE_CPU_BRAND:-Intel(R) Xeon(R) CPU (stand-in for the CI machine)}"
"$root/scripts/setup.sh"
sample="$root/build/tools/presenter-sample.mp4"
if [ "$headless" = 0 ] && [ -n "${DISPLAY:-}" ] && xset q >/dev/null 2>&1; then
    exec "$root/build/bin/Corvane" --media "$sample"
fi
"$root/build/bin/pelorn-smoke"
# The sample clip through the engine with matting on, composed to 1920 x 1080
# BGRA: a statistics line per second and a PNG snapshot per second.
"$root/build/tools/pelorn-play" "$sample" \
    --size 1920x1080 --format bgra --seconds 8 --flags 80 \
    --png-every 30 "$root/build/play-snapshots"
"$root/build/bin/foundation_bench" --benchmark_min_time=0.2
# The console itself, on its own X server. Nobody is there to answer its
# message boxes: their texts go to a file, shown afterwards.
prompts="$root/build/console-prompts.txt"
rm -f "$prompts"
QUINDLE_PROMPTS="$prompts" xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" \
    "$root/build/bin/Corvane" --media "$sample" --measure 10
if [ -s "$prompts" ]; then
    echo "The console's messages:"
    cat "$prompts"
fi
