#!/usr/bin/env bash
# Installs what is missing, builds Zandrel and runs the whole test suite headless. The suite
# runs inside a virtual X server (Xvfb), so the tests that read X11 window properties run too;
# every other test uses Qt's offscreen platform. A selection that matches no test fails.
#
#   scripts/test.sh                 every test
#   scripts/test.sh -R Registry     extra arguments go to ctest
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
install_missing_packages
build_zandrel
export QT_QPA_PLATFORM=offscreen
cd "$ZANDREL_BUILD"
# -noreset: the X server stays up between the tests' connections.
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
    ctest --output-on-failure --no-tests=error -j"$(nproc)" "$@"
