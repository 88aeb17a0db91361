#!/usr/bin/env bash
# Builds the whole project and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ and runs the test suite. Any sanitizer report fails the run: UBSan does not
# recover, and LeakSanitizer is on, with Qt's and the system libraries' own one-time
# allocations listed in scripts/lsan.supp.
#
#   scripts/sanitize.sh                 build and run every test
#   scripts/sanitize.sh -R unrar        extra arguments go to ctest (both passes)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
install_missing_packages

ASAN_BUILD="${ASAN_BUILD:-$ZANDREL_ROOT/build-asan}"
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

start=$(date +%s)
# -O1 keeps the instrumented tests fast enough; -g gives the reports their lines.
cmake -S "$ZANDREL_ROOT" -B "$ASAN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DZANDREL_WERROR="${ZANDREL_WERROR:-OFF}" \
    -DCMAKE_C_FLAGS="$flags -O1 -g" -DCMAKE_CXX_FLAGS="$flags -O1 -g" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$ASAN_BUILD" -j"$(nproc)"
built=$(date +%s)

export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS="suppressions=$ZANDREL_ROOT/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
checks="detect_leaks=1:detect_stack_use_after_return=0"
cd "$ASAN_BUILD"

# Tests whose program can load Qt WebEngine (the window tests and the end-to-end runs hold the
# name of the module's entry point) run in a second pass without ASan's new/delete size check: Chromium, built
# without ASan, frees some of its own objects with a mismatched sized delete
# (WebContentsAdapter's destructor). Every other check stays on for them.
# With a selection (-R ...), ctest's -I counts positions in the selected list, not test
# numbers: the lists below hold those positions.
plain=() web=()
position=0
while read -r _ program; do
    position=$((position + 1))
    if grep -q zandrelCreateWebEngineView "$program" 2>/dev/null; then
        web+=("$position")
    else
        plain+=("$position")
    fi
done < <(ctest -N -V "$@" | sed -n 's/^\([0-9]*\): Test command: \([^ ]*\).*/\1 \2/p')
join() { local IFS=,; echo "$*"; }
# A selection that matches nothing is a failure, never a green run.
if [ ${#plain[@]} -eq 0 ] && [ ${#web[@]} -eq 0 ]; then
    echo "no test in $ASAN_BUILD matches the selection ($*)" >&2
    exit 1
fi

# Runs one pass over the given test numbers, if the selection leaves any of them.
pass() {
    local options="$1" title="$2"
    shift 2
    local numbers="$1"
    shift
    local count
    count=$(ctest -N -I "0,0,0,$numbers" "$@" | sed -n 's/^Total Tests: *//p')
    [ "${count:-0}" -gt 0 ] || return 0
    echo "== $count $title"
    ASAN_OPTIONS="$options" ctest --output-on-failure --no-tests=error -j"$(nproc)" \
        -I "0,0,0,$numbers" "$@"
}
rc=0
if [ ${#plain[@]} -gt 0 ]; then
    pass "$checks" "tests with every check" "$(join "${plain[@]}")" "$@" || rc=$?
fi
if [ ${#web[@]} -gt 0 ]; then
    pass "$checks:new_delete_type_mismatch=0" \
        "tests that may load Qt WebEngine, without the new/delete size check" \
        "$(join "${web[@]}")" "$@" || rc=$?
fi
end=$(date +%s)
echo "sanitizer build: $((built - start)) s, tests: $((end - built)) s"
exit $rc
