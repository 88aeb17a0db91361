#!/usr/bin/env bash
# Installs what is missing, builds Zandrel with its demo and starts it, ready to try: two demo
# game servers on 127.0.0.1 (one offering a RAR map update, which it hands on to an https server
# with the demo's own certificate authority, one a PPF patch) and Zandrel from
# the demo's application folder (build/demo/app: the program, the patch tool, sample maps, an
# empty backup folder and a stand-in for the game). The servers stop when Zandrel exits.
#
#   scripts/run.sh            start the demo
#   scripts/run.sh --reset    first put the sample maps back and empty the backup folder
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
install_missing_packages
build_zandrel

source "$(dirname "${BASH_SOURCE[0]}")/demo-servers.sh"
app="$demo/app"

if [ "${1:-}" = "--reset" ]; then
    rm -f "$app"/maps/*.map "$app"/backup/*.map
    cp "$demo"/work/samples/*.map "$app/maps/"
    echo "The demo's maps folder holds the three sample maps again; its backup folder is empty."
fi

# Drive C: of the game's Wine prefix, where the PPF patch is downloaded: kept in the build tree.
export WINEPREFIX="$demo/wineprefix"
mkdir -p "$WINEPREFIX/drive_c" "$app/maps" "$app/backup"
# Downloads of an earlier demo run would stand in for a server that does not answer.
rm -f "$app/connect.ini" "$app/zandrel.rar" "$WINEPREFIX/drive_c/zandrel.ppf"

check_demo_ports "Stop what uses it, or choose other ports:" \
    "  cmake -B \"$ZANDREL_BUILD\" -DZANDREL_DEMO_RAR_PORT=9801 -DZANDREL_DEMO_PPF_PORT=9802 -DZANDREL_DEMO_COMMUNITY_PORT=9803 -DZANDREL_DEMO_HTTPS_PORT=9804"

pids=()
stop_demo() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap stop_demo EXIT
trap 'exit 130' INT TERM

start_demo_servers

# The stand-in game writes the command line it was started with here; show it as it comes.
log="$app/halo-stand-in.log"
: > "$log"
tail -n0 -F "$log" 2>/dev/null &
pids+=($!)

cat <<MSG

Zandrel demo. Type one of these addresses into the start window and click "Connect":

    127.0.0.1:$RAR_PORT   a server whose map update is a RAR archive (new maps for maps/),
                     fetched over https from 127.0.0.1:$HTTPS_PORT
    127.0.0.1:$PPF_PORT   a server whose map update is a PPF patch for maps/ridge.map
                     (its first reply of the patch breaks off halfway: the download
                     window shows "Connection lost, resuming (1 of 5)…" and goes on
                     from where it broke)
    https://127.0.0.1:$HTTPS_PORT
                     the https server itself: its settings file, over https from the start

The game here is a stand-in ($app/halo.exe): it only prints
the command line Zandrel starts it with, such as "-connect 127.0.0.1:2302".
Application folder: $app
Drive C: (Wine prefix): $WINEPREFIX

MSG
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: starting Zandrel offscreen (set DISPLAY to see its windows)."
    export QT_QPA_PLATFORM=offscreen
fi
status=0
"$app/zandrel" || status=$?
sleep 1  # the stand-in game is started just before Zandrel ends
echo "Zandrel has ended; stopping the demo servers."
exit "$status"
