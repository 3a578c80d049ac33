#!/usr/bin/env bash
# Builds the release tree, then runs its test suite N times in a row and
# prints, for every test that failed at least once, in how many runs it failed.
#   scripts/flake-hunt.sh [N] [-- CTEST-ARGS...]    N defaults to 20
#   scripts/flake-hunt.sh 30 -- -L threaded         only the threaded suites
# Exits 1 when any run failed. The failing runs' logs stay in
# build/flake-hunt/run-K.log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export QUINDLE_CPU_BRAND="${QUINDLE_CPU_BRAND:-Intel(R) Xeon(R) CPU (stand-in for the CI machine)}"

runs=20
if [ $# -gt 0 ] && [ "$1" != "--" ]; then
    runs=$1
    shift
fi
[ "${1:-}" = "--" ] && shift
if ! [[ "$runs" =~ ^[1-9][0-9]*$ ]]; then
    echo "flake-hunt: N must be a positive whole number, not '$runs'" >&2
    exit 2
fi

"$root/scripts/setup.sh"
logs="$root/build/flake-hunt"
rm -rf "$logs"
mkdir -p "$logs"
failed_list="$root/build/Testing/Temporary/LastTestsFailed.log"
declare -A failures=()
failed_runs=0

for ((run = 1; run <= runs; ++run)); do
    rm -f "$failed_list"
    start=$SECONDS
    if ctest --test-dir "$root/build" -j"$(nproc)" --output-on-failure "$@" >"$logs/run-$run.log" 2>&1; then
        echo "run $run/$runs: passed ($((SECONDS - start)) s)"
        rm -f "$logs/run-$run.log"
        continue
    fi
    failed_runs=$((failed_runs + 1))
    echo "run $run/$runs: FAILED ($((SECONDS - start)) s, log $logs/run-$run.log)"
    # Lines are "INDEX:NAME"; a run that failed before any test (a build or
    # discovery error) leaves no list.
    if [ -f "$failed_list" ]; then
        while IFS= read -r line; do
            name=${line#*:}
            failures[$name]=$((${failures[$name]:-0} + 1))
            echo "    $name"
        done <"$failed_list"
    else
        failures["(no test ran: see the log)"]=$((${failures["(no test ran: see the log)"]:-0} + 1))
    fi
done

echo "== flake hunt: $failed_runs of $runs runs failed"
for name in "${!failures[@]}"; do
    printf '%4d of %d  %s\n' "${failures[$name]}" "$runs" "$name"
done | sort -rn
[ "$failed_runs" -eq 0 ]
