#!/usr/bin/env bash
# Installs the package that scripts/package.sh built with apt-get and checks it as a player and
# a server administrator meet it, then removes it again:
#   - the installed zandrel, zandrel-check and zandrel-ppf answer --version;
#   - the launcher entry and the metainfo validate;
#   - zandrel-check passes the demo's RAR server (needs the demo of build/: scripts/test.sh or
#     scripts/run.sh builds it);
#   - on a desktop of its own (Xvfb, openbox), a zandrel:// link opened with xdg-open starts
#     Zandrel with the address in its start window's address box (read back through the
#     clipboard), the player's clicks take the demo's RAR road to the stand-in game from there,
#     and a hostile link gets a box instead of a start window.
#
#   scripts/package-check.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
install_missing_packages appstream xdg-utils desktop-file-utils xclip xdotool xvfb openbox
out="${ZANDREL_PACKAGE_BUILD:-$ZANDREL_ROOT/build-package}"
deb=$(ls "$out"/zandrel_*_amd64.deb)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

pids=()
work=$(mktemp -d)
finish() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
    $sudo apt-get remove -y -qq zandrel >/dev/null || true
}
trap finish EXIT

# Without the recommended wine: CI installs its own, and a developer keeps the machine as it was.
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$deb"
for program in zandrel zandrel-check zandrel-ppf; do
    command -v "$program" >/dev/null || { echo "$program is not on PATH" >&2; exit 1; }
    "$program" --version
done
desktop-file-validate /usr/share/applications/zandrel.desktop
appstreamcli validate --no-net /usr/share/metainfo/org.example.zandrel.metainfo.xml

source "$ZANDREL_ROOT/scripts/demo-servers.sh"
check_demo_ports "The package check needs the demo's ports."
start_demo_servers quiet
zandrel-check "127.0.0.1:$RAR_PORT" > "$work/check.txt" || { cat "$work/check.txt"; exit 1; }
tail -n1 "$work/check.txt"

# A desktop: the X server, a window manager, and a player who has chosen the demo's game folder
# before (remembered in the configuration folder).
display=":$((100 + RANDOM % 400))"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY="$display"
for _ in $(seq 100); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
pids+=($!)
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
unset QT_QPA_PLATFORM
game="$work/game"
mkdir -p "$game/maps" "$XDG_CONFIG_HOME/zandrel"
cp "$demo/app/halo.exe" "$game/"
cp "$demo"/work/samples/*.map "$game/maps/"
printf 'game-folder=%s\n' "$game" > "$XDG_CONFIG_HOME/zandrel/zandrel.conf"

# The window named $1, waited for up to 30 s.
window() {
    for _ in $(seq 300); do
        xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 && return 0
        sleep 0.1
    done
    echo "No window \"$1\" came up." >&2
    return 1
}

# xdg-open waits for the program it starts where no desktop environment answers for it.
link="zandrel://127.0.0.1:$RAR_PORT"
xdg-open "$link" &
pids+=($!)
start=$(window "Welcome to Zandrel 1.1Final")
xdotool windowactivate --sync "$start" key --clearmodifiers ctrl+a ctrl+c
sleep 0.5
typed=$(timeout 10 xclip -o -selection clipboard)
if [ "$typed" != "127.0.0.1:$RAR_PORT" ]; then
    echo "The link gave the address box \"$typed\"." >&2
    exit 1
fi
echo "xdg-open $link: the start window's address box holds \"$typed\""

# The RAR road from there, as the player clicks it: Connect (the label on the button plate),
# then Download and Apply in the server window; the installed program loads its web view
# module, the transfer, archive and crypto libraries, and starts the demo's stand-in game.
xdotool mousemove --window "$start" 495 129 click 1
server=$(window "127.0.0.1:2302")
sleep 1
if xdotool search --onlyvisible --name "^Zandrel\$" >/dev/null 2>&1; then
    echo "A box came up on the way to the server window." >&2
    exit 1
fi
xdotool mousemove --window "$server" 723 556 click 1
for _ in $(seq 300); do [ -s "$game/halo-stand-in.log" ] && break; sleep 0.1; done
cat "$game/halo-stand-in.log" 2>/dev/null || { echo "The game was not started." >&2; exit 1; }
grep -q -- "-connect 127.0.0.1:2302" "$game/halo-stand-in.log"
[ -f "$game/maps/glacier.map" ] && [ -f "$game/backup/canyon.map" ] || {
    echo "The update was not applied as it should be: $(ls "$game/maps" "$game/backup")" >&2
    exit 1
}
echo "The RAR road: glacier.map added, canyon.map's original kept in backup/, the game started"

xdg-open "zandrel://--game-folder=/" &
pids+=($!)
box=$(window "Zandrel")
xdotool windowactivate --sync "$box" key Return
for _ in $(seq 100); do xdotool search --onlyvisible --name "^Zandrel\$" >/dev/null 2>&1 || break; sleep 0.1; done
if xdotool search --onlyvisible --name "^Welcome to Zandrel" >/dev/null 2>&1; then
    echo "A hostile link opened the start window." >&2
    exit 1
fi
echo "xdg-open zandrel://--game-folder=/: refused with a box"
echo "The package installs and works; removing it again."
