#!/usr/bin/env bash
# Builds Zandrel for release in its own build folder, runs every benchmark several times and
# prints one table of what they measured: our median time, the other program's median time,
# the ratio (ours / other) and our peak memory, one row per "ROW|..." line a benchmark printed
# ("ROW|work|ours|other|other's figure|ratio|peak MiB[|unit]": figures are seconds unless a unit
# such as MB is given).
#
#   scripts/bench.sh [--runs N] [--startup-runs N] [--download-mib N] [--only NAME[,NAME...]]
#
#   --runs N           runs of each measured row (default 5)
#   --startup-runs N   runs of each start-up probe (default 21; a start takes milliseconds)
#   --download-mib N   size of the downloaded file (default 1024)
#   --only NAMES       some of: startup, download, unrar, ppf, road (default all)
#
# ZANDREL_BENCH_BUILD names the build folder (default build-release). Each benchmark's own
# output goes to <build folder>/bench-logs/<name>.log. Benchmarks print; nothing here judges a
# figure. The script fails only if the build fails or a benchmark does not finish.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

runs=5
startup_runs=21
download_mib=1024
only="startup,download,unrar,ppf,road"
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs="$2"; shift 2 ;;
        --startup-runs) startup_runs="$2"; shift 2 ;;
        --download-mib) download_mib="$2"; shift 2 ;;
        --only) only="$2"; shift 2 ;;
        *) echo "usage: $0 [--runs N] [--startup-runs N] [--download-mib N] [--only NAMES]" >&2
           exit 2 ;;
    esac
done

build="${ZANDREL_BENCH_BUILD:-$ZANDREL_ROOT/build-release}"
logs="$build/bench-logs"

install_missing_packages >&2
cmake -S "$ZANDREL_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target benchmarks >&2  # standard output: the table only
mkdir -p "$logs"

# name, then the command line of each benchmark.
declare -A commands=(
    [startup]="$build/bench/startup/bench_startup --runs $startup_runs"
    [download]="$build/bench/download/bench_download $download_mib $runs --runs $runs"
    [unrar]="$build/bench/unrar/bench_unrar --runs $runs"
    [ppf]="$build/bench/ppf/bench_ppf --runs $runs"
    [road]="$build/bench/road/bench_road --runs $runs"
)

# Each benchmark runs in a folder of its own, removed afterwards, whatever it leaves there.
scratch="$(mktemp -d "${TMPDIR:-/tmp}/zandrel-bench.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

failed=()
rows=()
loads=()
IFS=',' read -r -a selected <<<"$only"
for name in "${selected[@]}"; do
    if [ -z "${commands[$name]:-}" ]; then
        echo "no benchmark called $name" >&2
        exit 2
    fi
    log="$logs/$name.log"
    loads+=("$name $(cut -d' ' -f1-3 /proc/loadavg)")
    echo "running $name: ${commands[$name]}  (output in $log)" >&2
    started=$(date +%s)
    mkdir -p "$scratch/$name"
    # shellcheck disable=SC2086  # the command line is split on purpose
    if ! (cd "$scratch/$name" && ${commands[$name]}) >"$log" 2>&1; then
        failed+=("$name")
    fi
    rm -rf "${scratch:?}/$name"
    echo "  $name took $(($(date +%s) - started)) s" >&2
    found=0
    while IFS= read -r line; do
        rows+=("$line")
        found=1
    done < <(grep '^ROW|' "$log" || true)
    [ "$found" = 1 ] || rows+=("ROW|$name: no ROW line, see $log|||||||")
done

# One table. Times under a second are shown in milliseconds.
printf '%s\n' "${rows[@]}" | awk -F'|' -v runs="$runs" -v sruns="$startup_runs" '
    function shown(s, u) {
        if (s == "") return "-"
        if (u != "") return sprintf("%.1f %s", s, u)
        return (s < 1) ? sprintf("%.1f ms", s * 1000) : sprintf("%.3f s", s)
    }
    {
        n++; work[n] = $2; ours[n] = $3; other[n] = $4; theirs[n] = $5; ratio[n] = $6; peak[n] = $7
        unit[n] = $8
        if (length($2) > w) w = length($2)
        if (length($4) > o) o = length($4)
    }
    END {
        printf "\nMedians of %d runs (start-up: %d runs); ratio = ours / other\n\n", runs, sruns
        printf "%-*s  %10s  %-*s  %10s  %6s  %9s\n", w, "work", "ours", o, "other", "other", "ratio", "our peak"
        for (i = 1; i <= n; i++) {
            printf "%-*s  %10s  %-*s  %10s  %6s  %9s\n", w, work[i], shown(ours[i], unit[i]), o,
                other[i], shown(theirs[i], unit[i]), ratio[i] == "" ? "-" : sprintf("%.2f", ratio[i]),
                peak[i] == "" ? "-" : sprintf("%.1f MiB", peak[i])
        }
    }'
# The machine may be shared: the load each benchmark started under goes with its figures.
printf '\nload average (1, 5, 15 min) as each benchmark started: %s\n' "$(IFS=';'; echo "${loads[*]}")" |
    sed 's/;/; /g'

if [ ${#failed[@]} -gt 0 ]; then
    echo "did not finish: ${failed[*]} (see $logs)" >&2
    exit 1
fi
