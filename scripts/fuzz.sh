#!/usr/bin/env bash
# Builds the libFuzzer targets (clang 14, ASan + UBSan) into build-fuzz/, replays each committed
# corpus and then fuzzes each target for a while, printing the number of executions.
#
#   scripts/fuzz.sh                     CI smoke: replay, then about 30 s per target
#   scripts/fuzz.sh --seconds 600       longer runs
#   scripts/fuzz.sh --runs 1000000      a fixed number of executions per target
#   scripts/fuzz.sh fuzz_ppf            only the named targets
#
# New interesting inputs go to a scratch corpus in the build folder, never into fuzz/corpus/.
# A finding (crash, sanitizer report, leak, timeout) fails the script; its input is left in
# build-fuzz/findings/<target>/ and should be committed to fuzz/corpus/<target>/ as a
# regression-* file once fixed.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
install_missing_packages clang-14 libclang-rt-14-dev

FUZZ_BUILD="${FUZZ_BUILD:-$ZANDREL_ROOT/build-fuzz}"
seconds=30
runs=""
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds="$2"; shift 2 ;;
        --runs) runs="$2"; shift 2 ;;
        -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
        *) targets+=("$1"); shift ;;
    esac
done
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_profile fuzz_ppf fuzz_ppf_create fuzz_unrar fuzz_block_chain fuzz_journal fuzz_join_link)

cmake -S "$ZANDREL_ROOT" -B "$FUZZ_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DZANDREL_GUI=OFF -DZANDREL_TESTS=OFF -DZANDREL_FUZZ=ON \
    -DZANDREL_WERROR="${ZANDREL_WERROR:-OFF}" >/dev/null
# Only the targets that exist in this tree (the unpacking target needs the archive library).
# (The list is read whole first: grep -q ending a pipe early would fail it under pipefail.)
known=$(ninja -C "$FUZZ_BUILD" -t targets all 2>/dev/null)
built=()
for t in "${targets[@]}"; do
    if grep -q "^$t:" <<<"$known"; then
        built+=("$t")
    else
        echo "skip $t: not part of this build"
    fi
done
[ ${#built[@]} -gt 0 ] || { echo "no fuzz targets to build" >&2; exit 1; }
# Everything the fuzzing configuration holds is built, tools included, so that it cannot rot.
cmake --build "$FUZZ_BUILD" -j"$(nproc)"

# Leak checking stays on; Qt's one-time allocations are listed in the suppressions file.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export LSAN_OPTIONS="suppressions=$ZANDREL_ROOT/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen

status=0
summary=()
for t in "${built[@]}"; do
    exe="$FUZZ_BUILD/fuzz/$t"
    corpus="$ZANDREL_ROOT/fuzz/corpus/$t"
    scratch="$FUZZ_BUILD/scratch/$t"
    findings="$FUZZ_BUILD/findings/$t"
    log="$FUZZ_BUILD/logs/$t.log"
    mkdir -p "$scratch" "$findings" "$(dirname "$log")"
    dict=()
    [ -f "$ZANDREL_ROOT/fuzz/$t.dict" ] && dict=(-dict="$ZANDREL_ROOT/fuzz/$t.dict")
    common=(-timeout=10 -rss_limit_mb=2048 -artifact_prefix="$findings/" "${dict[@]}")

    echo "== $t"
    # 1. Every committed input, seeds and regressions, once.
    replay=$(find "$corpus" -type f | wc -l)
    if "$exe" "${common[@]}" -runs=0 "$corpus" >"$log.replay" 2>&1; then
        echo "   corpus replay: $replay inputs, ok"
    else
        echo "   corpus replay: FAILED (see $log.replay)"
        tail -n 30 "$log.replay"
        status=1
        summary+=("$t: replay FAILED")
        continue
    fi

    # 2. Fuzzing, from the committed corpus and what earlier runs found.
    limit=(-max_total_time="$seconds")
    [ -n "$runs" ] && limit=(-runs="$runs")
    start=$(date +%s)
    if "$exe" "${common[@]}" "${limit[@]}" -print_final_stats=1 "$scratch" "$corpus" \
        >"$log" 2>&1; then
        result="ok"
    else
        result="FINDING (input in $findings/, log $log)"
        tail -n 40 "$log"
        status=1
    fi
    elapsed=$(($(date +%s) - start))
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 || true)
    echo "   fuzzing: ${execs:-?} executions in ${elapsed} s, $cov, $result"
    summary+=("$t: replay ok ($replay inputs), ${execs:-?} executions in ${elapsed} s, $result")
done

echo "== summary"
printf '   %s\n' "${summary[@]}"
exit $status
