#!/usr/bin/env bash
# Renders every window of Zandrel offscreen into docs/screenshots/<window>.png (the About
# window narrow and wide), from a scratch copy of the demo's application folder, with the demo
# game servers answering on 127.0.0.1 for the windows that fetch.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
install_missing_packages
build_zandrel

demo="$ZANDREL_BUILD/demo"
shot="$ZANDREL_BUILD/tools/shot/zandrel-shot"
out="$ZANDREL_ROOT/docs/screenshots"
source "$demo/demo.env"  # RAR_PORT, PPF_PORT, COMMUNITY_PORT, COMMUNITY_HOST
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

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
for port in "$RAR_PORT" "$PPF_PORT" "$COMMUNITY_PORT"; do
    if port_in_use "$port"; then
        echo "Port $port on 127.0.0.1 is in use (is the demo running?); stop it first." >&2
        exit 1
    fi
done
"$demo/demo-server" "$demo/servers/rar" "$RAR_PORT" "RAR server" 2>/dev/null &
pids+=($!)
"$demo/demo-server" "$demo/servers/ppf" "$PPF_PORT" "PPF server" 2>/dev/null &
pids+=($!)
"$demo/demo-server" "$demo/servers/community" "$COMMUNITY_PORT" "community site" 2>/dev/null &
pids+=($!)
# No internet here: the web view finds the About window's community site on the demo's page.
if [ -n "$COMMUNITY_HOST" ]; then
    export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:-} --host-resolver-rules=\"MAP $COMMUNITY_HOST 127.0.0.1:$COMMUNITY_PORT\""
fi
for port in "$RAR_PORT" "$PPF_PORT" "$COMMUNITY_PORT"; do
    for _ in $(seq 50); do port_in_use "$port" && break; sleep 0.1; done
done

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
