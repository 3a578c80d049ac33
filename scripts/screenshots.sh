#!/usr/bin/env bash
# The console's pictures: builds console_screenshot and settings_screenshot,
# runs them on an Xvfb of its own at 1920 x 1080 (the console with the sample
# clip) and writes docs/console.png and docs/settings-dialog.png.
# Per-user folders point into a temporary folder for the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${QUINDLE_BUILD_DIR:-$root/build}"
export QUINDLE_CPU_BRAND="${QUINDLE_CPU_BRAND:-Intel(R) Xeon(R) CPU (stand-in for the CI machine)}"
nice cmake --build "$build" -j2 --target console_screenshot settings_screenshot
nice cmake --build "$build" -j2 --target compositor_table_cache_file >/dev/null 2>&1 || true

scratch=$(mktemp -d /tmp/console-screenshot-XXXXXX)
xvfb_pid=
cleanup() {
    if [[ -n "$xvfb_pid" ]]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
    rm -rf "$scratch"
}
trap cleanup EXIT
export HOME="$scratch" XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" \
       XDG_STATE_HOME="$scratch/state" XDG_RUNTIME_DIR="$scratch/run"
mkdir -p "$XDG_DATA_HOME/Raxev" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# The colour tables come from the tests' cache when it exists.
[[ -r "$build/test-data/ClrFloat.map" ]] && ln -s "$build/test-data/ClrFloat.map" "$XDG_DATA_HOME/Raxev/ClrFloat.map"
unset QT_QPA_PLATFORM

# Xvfb picks a free display number and writes it to the pipe.
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 30 -u "$display_fd" number
exec {display_fd}>&-
export DISPLAY=":$number"

mkdir -p "$root/docs"
"$build/bin/console_screenshot" "$build/tools/presenter-sample.mp4" "$root/docs/console.png"
echo "wrote $root/docs/console.png ($(stat -c %s "$root/docs/console.png") bytes)"
"$build/bin/settings_screenshot" "$root/docs/settings-dialog.png"
echo "wrote $root/docs/settings-dialog.png ($(stat -c %s "$root/docs/settings-dialog.png") bytes)"

# The echo window alone: statistics over the composed picture, layer 1
# pointed at (the layout editor frames the layer it selects in red).
nice cmake --build "$build" -j2 --target corvane-echo
"$build/bin/corvane-echo" "$build/tools/presenter-sample.mp4" --size 1920x1080 --seconds 5 --select 1 \
    --screenshot "$root/docs/echo-window.png" >/dev/null
echo "wrote $root/docs/echo-window.png ($(stat -c %s "$root/docs/echo-window.png") bytes)"
