#!/usr/bin/env bash
# corvane-echo for 3 s on an Xvfb of its own: frames reach the echo window
# and are painted; a bad command line is refused.
# $1: the corvane-echo program, $2: the sample clip.
set -u
echo_tool=$1
sample=$2
home=$(mktemp -d)
xvfb_pid=
cleanup() {
    if [[ -n "$xvfb_pid" ]]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
    rm -rf "$home"
}
trap cleanup EXIT
export HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_STATE_HOME="$home/state" \
       XDG_RUNTIME_DIR="$home/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM

# Xvfb picks a free display number and writes it to the pipe.
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 30 -u "$display_fd" number || { echo "Xvfb did not start"; exit 1; }
exec {display_fd}>&-
export DISPLAY=":$number"

"$echo_tool" "$sample" --seconds 3 >"$home/echo.out" 2>&1
status=$?
cat "$home/echo.out"
[ $status -eq 0 ] || { echo "echo: exit $status, expected 0"; exit 1; }
grep -q "^\[  3 s\] delivered" "$home/echo.out" || { echo "echo: no line for the third second"; exit 1; }
grep -Eq "^summary: delivered [1-9][0-9]* +painted [1-9]" "$home/echo.out" || { echo "echo: nothing painted"; exit 1; }

"$echo_tool" "$sample" --format 7 >"$home/bad.out" 2>&1
status=$?
[ $status -eq 2 ] || { echo "bad format: exit $status, expected 2"; exit 1; }
grep -q "^usage: corvane-echo" "$home/bad.out" || { echo "bad format: no usage"; exit 1; }
