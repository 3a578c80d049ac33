#!/usr/bin/env bash
# The main job: set up and build, then take the engine through create, open
# without a source, stop and release, and measure the per-frame bookkeeping.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/build/bin/pelorn-smoke"
"$root/build/bin/foundation_bench" --benchmark_min_time=0.2
