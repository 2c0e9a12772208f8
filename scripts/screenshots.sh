#!/usr/bin/env bash
# scripts/screenshots.sh [BUILD_DIR]
#
# Runs the real programs in the demo world (scripts/demo.sh: emulated
# players in a private network, the stand-in driver) on a virtual display
# of its own and writes PNGs into docs/screenshots/:
#   main-dialog.png     the main dialog
#   main-dialog-compact.png  the main dialog in its compact layout (shipped
#                       defaults with AsioSetting=Simple: no groups)
#   debug-monitor.png   the debug monitor, with the stand-in driver's output
#   update-dialog.png   the update dialog with a player's firmware list (its config
#                       button opens it)
#   target-log.png      the target log window of that player (dmesg)
#   update-done.png     the message box at the end of a firmware update of
#                       that player; the time from "update" to it is printed
# BUILD_DIR (default build-demo) must hold a build; demo.sh makes one.
# The style is pinned (Fusion) so pictures from different machines compare.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build-demo}
case $build in /*) ;; *) build=$PWD/$build ;; esac
out=$root/docs/screenshots
say() { echo "screenshots: $*" >&2; }
die() { say "$*"; exit 1; }

for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null 2>&1 || die "'$tool' is missing: run scripts/setup-deps.sh"
done
[ -x "$build/bin/velmora-configure" ] || die "no build in $build: run ./scripts/demo.sh once (or give BUILD_DIR)"
mkdir -p "$out"

# A display number nobody uses.
n=90
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
demo=
cleanup() {
    [ -n "$demo" ] && kill "$demo" 2>/dev/null && wait "$demo" 2>/dev/null
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
}
trap cleanup EXIT
export DISPLAY=:$n
for _ in $(seq 1 50); do [ -S "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
[ -S "/tmp/.X11-unix/X$n" ] || die "Xvfb did not start on :$n"

start_demo() { # build-dir
    "$here/demo.sh" --no-build --build-dir "$1" -- -style Fusion >"$build/screenshots-demo.log" 2>&1 &
    demo=$!
}
stop_demo() {
    kill "$demo" 2>/dev/null
    wait "$demo" 2>/dev/null
    demo=
}
start_demo "$build"

window() { # title -> window id, waiting up to 30 s
    local id
    for _ in $(seq 1 300); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}
shot() { # window-id file
    sleep 1 # let the window finish painting
    import -window "$1" "$out/$2" && say "wrote docs/screenshots/$2"
}
click() { # window-id x y
    xdotool mousemove --window "$1" "$2" "$3" click 1
}

main=$(window "Velmora ASIO configure") || { cat "$build/screenshots-demo.log" >&2; die "the main dialog did not appear"; }
shot "$main" main-dialog.png

# The debug button (410,130 81x23); the window is modal.
click "$main" 450 141
debug=$(window "Debug") || die "the debug monitor did not open"
sleep 3 # a few lines of the stand-in driver's output
shot "$debug" debug-monitor.png
# Close it as a user would (the close button, 450,470 75x23).
click "$debug" 487 481

# The config button (410,70) opens the update dialog (its title: "Setting").
click "$main" 450 81
if update=$(window "Setting"); then
    # check (310,90 75x23): the selected player's firmware list.
    click "$update" 347 101
    sleep 2
    shot "$update" update-dialog.png
    # dmesg (310,60 75x23): the player's log window, modal.
    click "$update" 347 71
    if log=$(window "dmesg"); then
        sleep 3 # the player's log lines
        shot "$log" target-log.png
        click "$log" 487 481 # close (450,470 75x23)
    else
        say "the target log window did not open: target-log.png not taken"
    fi
    # update (310,120 75x23): the first firmware image of the list, timed
    # until the message box of the end appears.
    sleep 1
    before=$(xdotool search --onlyvisible --class velmora-configure 2>/dev/null | sort)
    t0=$(date +%s.%N)
    click "$update" 347 131
    box=
    for _ in $(seq 1 1200); do
        box=$(comm -13 <(echo "$before") <(xdotool search --onlyvisible --class velmora-configure 2>/dev/null | sort) | head -1)
        [ -n "$box" ] && break
        sleep 0.1
    done
    if [ -n "$box" ]; then
        t1=$(date +%s.%N)
        say "firmware update through the dialog: $(awk "BEGIN { printf \"%.1f\", $t1 - $t0 }") s until the final message box"
        shot "$box" update-done.png
        xdotool windowfocus --sync "$box" key Return 2>/dev/null || true
    else
        say "no message box within 120 s after the firmware update started"
    fi
else
    say "the update dialog did not open: update-dialog.png not taken"
fi
stop_demo

# The compact layout: the same programs, with shipped defaults that ask
# for it, from a copy of the program directory.
compact=$(mktemp -d "${TMPDIR:-/tmp}/velmora-shots.XXXXXX") || die "cannot create a folder"
chmod 755 "$compact"
trap 'cleanup; rm -rf "$compact"' EXIT
cp -a "$build/bin" "$compact/bin"
sed -i 's/^AsioSetting=[^\r]*/AsioSetting=Simple/' "$compact/bin/setting_org.inf"
start_demo "$compact"
main=$(window "Velmora ASIO configure") || { cat "$build/screenshots-demo.log" >&2; die "the compact dialog did not appear"; }
shot "$main" main-dialog-compact.png
stop_demo
