#!/usr/bin/env bash
# Time from process start to the start window shown, for Zandrel and for a bare Qt window,
# each run RUNS times (default 15); prints the medians and their ratio.
set -euo pipefail
dir="$(cd "$(dirname "$0")" && pwd)"
runs="${RUNS:-15}"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
measure() {
    "$@" >/dev/null 2>&1 || true  # warm the page cache
    for _ in $(seq "$runs"); do
        local t0 t1
        t0=$(date +%s%N)
        "$@" >/dev/null 2>&1 || { echo "$1 did not show its window" >&2; exit 1; }
        t1=$(date +%s%N)
        echo $(( (t1 - t0) / 1000 ))
    done | median
}
z=$(measure "$dir/bench_startup_zandrel")
b=$(measure "$dir/bench_startup_bare")
c=$(measure "$dir/bench_startup_bare" --controls)
echo "startup to window shown (median of $runs, platform $QT_QPA_PLATFORM):"
echo "  zandrel:                   $((z / 1000)) ms"
echo "  bare Qt window:            $((b / 1000)) ms"
echo "  bare Qt window + controls: $((c / 1000)) ms"
awk -v z="$z" -v b="$b" -v c="$c" 'BEGIN {
    printf "  ratio to the bare window:          %.2fx (goal: at most 1.30x)\n", z / b
    printf "  ratio to the window with controls: %.2fx\n", z / c }'
