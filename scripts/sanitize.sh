#!/usr/bin/env bash
# Builds the whole project and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ and runs the test suite. Any sanitizer report fails the run: UBSan does not
# recover, and LeakSanitizer is on, with Qt's and the system libraries' own one-time
# allocations listed in scripts/lsan.supp.
#
#   scripts/sanitize.sh                 build and run every test
#   scripts/sanitize.sh -R unrar        extra arguments go to ctest
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
install_missing_packages

ASAN_BUILD="${ASAN_BUILD:-$ZANDREL_ROOT/build-asan}"
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

start=$(date +%s)
# -O1 keeps the instrumented tests fast enough; -g gives the reports their lines.
cmake -S "$ZANDREL_ROOT" -B "$ASAN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_FLAGS="$flags -O1 -g" -DCMAKE_CXX_FLAGS="$flags -O1 -g" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$ASAN_BUILD" -j"$(nproc)"
built=$(date +%s)

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0:strict_string_checks=0"
export LSAN_OPTIONS="suppressions=$ZANDREL_ROOT/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$ASAN_BUILD"
rc=0
ctest --output-on-failure -j"$(nproc)" "$@" || rc=$?
end=$(date +%s)
echo "sanitizer build: $((built - start)) s, tests: $((end - built)) s"
exit $rc
