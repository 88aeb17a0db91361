#!/usr/bin/env bash
# Renders every window of Zandrel offscreen into docs/screenshots/<window>.png (the About
# window narrow and wide), from a scratch copy of the demo's application folder, with the demo
# game servers answering on 127.0.0.1 for the windows that fetch. The download windows are
# grabbed after their fetch (bar full, final figures). The road-*.png pictures of a download in
# progress and of a refused patch were taken on a desktop (Xvfb, openbox, ImageMagick's import)
# from slowly served updates; this script leaves them as they are.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
install_missing_packages
build_zandrel

source "$(dirname "${BASH_SOURCE[0]}")/demo-servers.sh"
shot="$ZANDREL_BUILD/tools/shot/zandrel-shot"
out="$ZANDREL_ROOT/docs/screenshots"
mkdir -p "$out"

# The download and apply windows write into the folder they run in (and start the patch tool):
# a scratch copy keeps the demo's own folder as it is.
scratch="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
cp -a "$demo/app" "$scratch/app"
rm -f "$scratch/app/connect.ini" "$scratch/app/zandrel.rar" "$scratch/app/halo-stand-in.log"
cp "$demo/work/samples/"*.map "$scratch/app/maps/"
cp "$demo/work/samples/harbor.map" "$scratch/app/backup/"  # one backup, to show both lists
export WINEPREFIX="$scratch/wineprefix"
mkdir -p "$WINEPREFIX/drive_c"
export QT_QPA_PLATFORM=offscreen

check_demo_ports "Is the demo running? Stop it first."
start_demo_servers quiet

take() {  # take <out name> <window> [zandrel-shot options]
    local name="$1" kind="$2"
    shift 2
    echo "  $name.png"
    "$shot" "$scratch/app" "$kind" "$out/$name.png" "$@"
}
rar="Text1=127.0.0.1:$RAR_PORT"
ppf="Text1=127.0.0.1:$PPF_PORT"
echo "Writing screenshots into $out:"
take frmSplash frmSplash
take frmAbout frmAbout
take frmAbout-wide frmAbout --click Image1 --wait 3000
take frmSvrInfo frmSvrInfo --text "$rar" --wait 3000
take frmRarDownload frmRarDownload --text "$rar"
take frmRarUnpack frmRarUnpack
take frmPPFDownload frmPPFDownload --text "$ppf"
take frmPPFApply frmPPFApply --text "$ppf"
take frmFinish frmFinish
take frmBackup frmBackup
