#!/usr/bin/env bash
# Builds the Debian package build-package/zandrel_<version>_amd64.deb: a Release build in the
# system layout (the three programs on PATH, the web view module in
# /usr/lib/<triplet>/zandrel, the launcher entry, icons, metainfo and man pages), stripped, with
# its dependencies computed from the binaries, then checked with lintian (errors fail, warnings
# are printed).
#
#   scripts/package.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
install_missing_packages dpkg-dev lintian
out="${ZANDREL_PACKAGE_BUILD:-$ZANDREL_ROOT/build-package}"
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# Warnings are held to errors by the test build (CI); at -O3 GCC 12 also warns about std::string
# code it inlines (-Wrestrict), which is no fault of ours, so this build does not stop on them.
cmake -S "$ZANDREL_ROOT" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DZANDREL_INSTALL_LAYOUT=system -DCMAKE_INSTALL_PREFIX=/usr -DZANDREL_TESTS=OFF \
    -DZANDREL_WERROR=OFF "${launcher[@]}"
cmake --build "$out" -j"$(nproc)" \
    --target zandrel zandrel-check ppf zandrel_webengine zandrel_package_files
rm -f "$out"/zandrel_*.deb
(cd "$out" && cpack -G DEB)
deb=$(ls "$out"/zandrel_*_amd64.deb)
lintian --fail-on error "$deb"
echo "Built $deb"
