#!/usr/bin/env bash
# Installs the Debian packages Zandrel needs (only those missing) and builds it into build/.
# Sourced by run.sh and test.sh; can also be run on its own.
set -euo pipefail
ZANDREL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ZANDREL_BUILD="${ZANDREL_BUILD:-$ZANDREL_ROOT/build}"

packages=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-webengine-dev
    libcurl4-openssl-dev libarchive-dev libarchive-tools libcpp-httplib-dev
    libssl-dev ca-certificates openssl
    libgtest-dev googletest
    fonts-liberation curl time
    libxcb1-dev
    xvfb
    xauth
    clang-format
    openbox
    xdotool
    x11-utils
    desktop-file-utils libglib2.0-bin xclip
)

install_missing_packages() {
    local missing=()
    for p in "${packages[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

# ZANDREL_WERROR=ON (CI) makes every compiler warning an error.
build_zandrel() {
    cmake -S "$ZANDREL_ROOT" -B "$ZANDREL_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DZANDREL_WERROR="${ZANDREL_WERROR:-OFF}" "$@"
    cmake --build "$ZANDREL_BUILD" -j"$(nproc)"
}

# Chromium (Qt WebEngine) refuses to run as root with its sandbox on.
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    install_missing_packages
    build_zandrel
fi
