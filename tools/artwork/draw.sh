#!/bin/sh
# Redraws the program's pictures into resources/. Run by hand after changing draw.cpp;
# the PNGs it writes are committed, so a normal build never needs it.
# Needs g++, pkg-config and the Qt 6 Gui development files, plus the Liberation fonts.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-"$here/../../resources"}
work=$(mktemp -d /tmp/zandrel-artwork.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Qt is built position-independent, hence -fPIC.
g++ -std=c++20 -O2 -Wall -Wextra -fPIC -o "$work/draw" "$here/draw.cpp" \
    $(pkg-config --cflags --libs Qt6Gui)

mkdir -p "$out"
QT_QPA_PLATFORM=offscreen "$work/draw" "$out"
