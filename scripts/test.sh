#!/usr/bin/env bash
# Installs what is missing, builds Zandrel and runs the whole test suite headless.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
install_missing_packages
build_zandrel
export QT_QPA_PLATFORM=offscreen
cd "$ZANDREL_BUILD"
ctest --output-on-failure -j"$(nproc)" "$@"
