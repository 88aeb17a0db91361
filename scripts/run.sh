#!/usr/bin/env bash
# Installs what is missing, builds Zandrel and starts it from the application folder in the
# build tree (build/app: the program, the patch tool, maps/ and backup/).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
install_missing_packages
build_zandrel
app="$ZANDREL_BUILD/app"
mkdir -p "$app/maps" "$app/backup"
# Drive C: of the game's Wine prefix; kept inside the build tree for this run.
export WINEPREFIX="${WINEPREFIX:-$ZANDREL_BUILD/wineprefix}"
mkdir -p "$WINEPREFIX/drive_c"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: starting Zandrel offscreen (set DISPLAY to see its windows)."
    export QT_QPA_PLATFORM=offscreen
fi
exec "$app/zandrel"
