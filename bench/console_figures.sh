#!/usr/bin/env bash
# The console's figures: builds what it needs, then runs console_figures
# (5 fresh starts, then 20 s of steady running on Xvfb at 1920 x 1080).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export QUINDLE_CPU_BRAND="${QUINDLE_CPU_BRAND:-Intel(R) Xeon(R) CPU (stand-in for the CI machine)}"
build="${QUINDLE_BUILD_DIR:-$root/build}"
nice cmake --build "$build" -j2 --target console_figures
# The colour-table cache comes with the tests; without it the first run
# builds the tables.
nice cmake --build "$build" -j2 --target compositor_table_cache_file >/dev/null 2>&1 || true
"$build/bin/console_figures" --runs "${1:-5}" --seconds "${2:-20}"
