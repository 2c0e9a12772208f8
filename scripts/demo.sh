#!/usr/bin/env bash
# scripts/demo.sh [OPTIONS] [-- TOOL-ARGS...]
#
# Builds everything and starts the configuration tool, velmora-configure,
# on the current display inside a private network with emulated players:
#   "Living Room"                    fe80::1:1, command port 19650
#                                    update source certificarono/living-room/
#                                    (the built-in update server)
#   "Studio" with two outputs        fe80::2:1, command ports 19650 and 19651
#                                    update source https://[::1]:18443/studio/
#                                    (a private mirror by plain URL)
#   "Studio" (a second player)       fe80::3:1, command port 19650, no update
#                                    source (not listed by the update dialog)
# each with a firmware version and a log stream (TCP 23). The stand-in
# driver is configured to find them; its debug output (velmora-debugd) runs
# and sends while the tool's debug window is open.
#
# The update dialog talks to a real HTTPS update server
# (scripts/update-server.sh: nginx on [::1]:18443 in the client namespace,
# with its own throwaway CA, trusted by the tool through VELMORA_UPDATE_CA):
# firmware lists and images for the players (a written image makes the
# player report its new version after the reboot) and driver installers
# for the stand-in driver (update host certificarono/asio/). A driver
# update is stored in the demo's download folder (demo/downloads) and
# handed to a stand-in msiexec.exe, which installs nothing and writes what
# it was given to demo/logs/msiexec.log. The server's own log is
# demo/logs/update-server.log, its access log demo/logs/update-access.log.
# The tool runs from a copy of the program directory in a demo folder of
# its own, with the driver's settings there too: the user's configuration
# is never touched. Everything is stopped and removed when the tool exits
# or on Ctrl-C.
#
# Options:
#   --build-dir DIR   build folder (default: build-demo in the source tree)
#   --debug           Debug build (default: Release)
#   --no-build        use the build folder as it is
#   --keep            keep the demo folder (settings, logs) afterwards, also
#                     when the demo is killed
#   -h, --help        this text
# TOOL-ARGS go to velmora-configure (for example: staging).
#
# Needs a display reachable through its unix socket (DISPLAY=:N). Without
# one: xvfb-run -a ./scripts/demo.sh
#
# A demo killed with SIGKILL cannot clean up: its programs end with it
# (parent-death signal), and the next start removes its network namespaces
# and folder (their names carry its process id) and says so.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
# shellcheck source=lib/netns.sh
. "$here/lib/netns.sh"
# shellcheck source=lib/update-server.env
. "$here/lib/update-server.env"

build=$root/build-demo
build_type=Release
do_build=1
keep=
orig_args=("$@")
while [ $# -gt 0 ]; do
    case "$1" in
    --build-dir) build=${2:?--build-dir needs a folder}; shift 2 ;;
    --debug) build_type=Debug; shift ;;
    --no-build) do_build=; shift ;;
    --keep) keep=1; shift ;;
    -h | --help) sed -n '2,/^$/s/^# \{0,1\}//p' "$0"; exit 0 ;;
    --) shift; break ;;
    *) echo "demo: unknown option '$1' (see --help)" >&2; exit 2 ;;
    esac
done
tool_args=("$@")
case $build in /*) ;; *) build=$PWD/$build ;; esac

say() { echo "demo: $*" >&2; }
die() { say "$*"; exit 1; }

# Before the build: a long build that ends in "no display" helps nobody.
# After the dependencies, which bring xvfb-run, so the command named here
# is there to run.
check_display() {
    if [ -z "${DISPLAY:-}" ]; then
        say "no display (DISPLAY is not set). Run it on a virtual one:"
        say "    xvfb-run -a ./scripts/demo.sh${orig_args[*]:+ ${orig_args[*]}}"
        say "or start one yourself: Xvfb :99 -screen 0 1280x800x24 -nolisten tcp & DISPLAY=:99 ./scripts/demo.sh"
        if ! command -v xvfb-run >/dev/null 2>&1; then
            say "(xvfb-run is in Debian's package xvfb: apt-get install xvfb xauth)"
        fi
        exit 1
    fi
    # The tool runs in another network namespace: only the display's unix
    # socket reaches it there, not TCP (host:N) or abstract sockets.
    local n=${DISPLAY#*:}
    n=${n%%.*}
    if [ "${DISPLAY%%:*}" != "" ] && [ "${DISPLAY%%:*}" != unix ] || [ ! -S "/tmp/.X11-unix/X$n" ]; then
        say "the display $DISPLAY has no local unix socket (/tmp/.X11-unix/X$n), which the tool needs"
        say "from inside the private network. Use a local display, e.g.: xvfb-run -a ./scripts/demo.sh"
        exit 1
    fi
}

if [ -z "${VELMORA_DEMO_INSIDE:-}" ]; then
    if [ -n "$do_build" ]; then
        if [ -x "$here/setup-deps.sh" ]; then
            "$here/setup-deps.sh" || die "the packages the demo needs are missing (see above)"
        else
            for tool in cmake ninja g++ ip; do
                command -v "$tool" >/dev/null 2>&1 || die "'$tool' is missing: apt-get install cmake ninja-build g++ iproute2 qtbase5-dev qttools5-dev"
            done
        fi
    fi
    check_display

    if [ -n "$do_build" ]; then
        launcher=()
        command -v ccache >/dev/null 2>&1 &&
            launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
        say "building ($build_type) in $build"
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" -DVELMORA_TESTS=OFF \
            "${launcher[@]}" >/dev/null || die "configuring the build failed"
        if ! cmake --build "$build" -j"${VELMORA_JOBS:-2}"; then
            # Build what the demo itself needs; the tool may still be there.
            say "the full build failed; building the demo's own programs"
            cmake --build "$build" -j"${VELMORA_JOBS:-2}" --target velmora-target-sim velmora_asio \
                setting_path velmora-debugd velmora_data velmora-ctl velmora-msiexec ||
                die "the demo's programs did not build (see above)"
        fi
    fi
    # In the namespaces' user namespace (when not root) the build is done.
    export VELMORA_DEMO_INSIDE=1
fi

bin=$build/bin
for f in velmora-target-sim libvelmora_asio.so setting_path velmora-debugd velmora-ctl standin/msiexec.exe \
    setting_org.inf preset.inf; do
    [ -e "$bin/$f" ] || die "$bin/$f is missing: build first (without --no-build)"
done

velmora_net_reexec_unprivileged "$0" "${orig_args[@]}"

# The demo's own folder: a copy of the program directory (which also shows
# that it works anywhere), the driver's configuration, its settings, logs.
export VELMORA_NET_WHO=demo
velmora_reap_stale demo
demo=$(mktemp -d "${TMPDIR:-/tmp}/velmora-demo.pid$$.XXXXXX") || die "cannot create a demo folder"
chmod 755 "$demo"
# A later start removes the folder of a killed demo, but not a kept one.
[ -n "$keep" ] && : >"$demo/.keep"
prog=$demo/program
cp -a "$bin" "$prog" || die "cannot copy the program directory"
rm -f "$prog/setting_path.inf" # a new installation: the tool runs the set-up once
mkdir -p "$demo/settings" "$demo/config" "$demo/logs" "$demo/downloads"
cat >"$demo/driver.inf" <<EOF
; The stand-in driver of this demo.
SettingsPath=$demo/settings/setting.inf
TargetIdentifier=0
DriverVersion=1.0.0
UpdateHost=certificarono/asio/
EOF
export VELMORA_DRIVER_CONFIG=$demo/driver.inf
# Whatever else looks for a configuration folder finds the demo's.
export XDG_CONFIG_HOME=$demo/config
# The download folder: Qt reads it from user-dirs.dirs in the configuration
# folder (not from the environment); the variable is for scripts.
printf 'XDG_DOWNLOAD_DIR="%s"\n' "$demo/downloads" >"$demo/config/user-dirs.dirs"
export XDG_DOWNLOAD_DIR=$demo/downloads
# The stand-in Windows installer comes first on PATH and logs its starts.
export PATH="$prog/standin:$PATH"
export VELMORA_MSIEXEC_LOG=$demo/logs/msiexec.log
# The update server's throwaway CA, which the tool trusts besides the
# system's.
export VELMORA_UPDATE_CA=$demo/update-ca.pem

pids=()
cleaned=
cleanup() {
    [ -n "$cleaned" ] && return
    cleaned=1
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null
    done
    pids=()
    velmora_net_down
    if [ -n "$keep" ]; then
        say "kept $demo"
    else
        rm -rf "$demo"
    fi
    say "stopped the players, the debug output and the update server, removed the private network"
}

velmora_net_up 3
trap cleanup EXIT
trap 'cleanup; exit 130' INT
trap 'cleanup; exit 143' TERM
trap 'cleanup; exit 129' HUP

start_player() { # k log-name args...
    local k=$1 name=$2 prefix
    shift 2
    eval "prefix=\$VELMORA_NS_T$k"
    $prefix "$prog/velmora-target-sim" "$@" >"$demo/logs/$name.log" 2>&1 &
    pids+=("$!")
}
studio_source="https://$VELMORA_UPDATE_SERVER/studio/"
start_player 1 living-room \
    --target "Living Room" --id 5 --port 19650 --version 2.4.1 --source certificarono/living-room/ \
    --log-text "Living Room: boot ok\n" --log-every 3000 --log-line "Living Room: playing "
start_player 2 studio \
    --target "Studio" --id 5 --port 19650 --version 3.0.2 --source "$studio_source" \
    --target "Studio" --id 5 --port 19651 --version 3.0.2 --source "$studio_source" \
    --log-text "Studio: boot ok, 2 outputs\n" --log-every 3000 --log-line "Studio: clock locked "
start_player 3 studio-2 \
    --target "Studio" --id 5 --port 19650 --version 2.9.0 \
    --log-text "Studio (2): boot ok\n"

for name in living-room studio studio-2; do
    for _ in $(seq 1 100); do
        grep -q '^ready$' "$demo/logs/$name.log" 2>/dev/null && break
        sleep 0.05
    done
    grep -q '^ready$' "$demo/logs/$name.log" 2>/dev/null || {
        cat "$demo/logs/$name.log" >&2
        die "the emulated player '$name' did not start"
    }
done

# The update server, on the client side (only lo is up there: [::1]).
"${VELMORA_PDEATH[@]}" $VELMORA_NS_CLIENT "$here/update-server.sh" --dir "$demo/update-server" ${keep:+--keep} \
    --ca-out "$VELMORA_UPDATE_CA" --ctl "$prog/velmora-ctl" --access-log "$demo/logs/update-access.log" \
    >"$demo/logs/update-server.log" 2>&1 </dev/null &
server=$!
pids+=("$server")
# Bounded: the server gives up by itself after 10 s.
for _ in $(seq 1 300); do
    grep -q '^ready$' "$demo/logs/update-server.log" 2>/dev/null && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.05
done
grep -q '^ready$' "$demo/logs/update-server.log" 2>/dev/null || {
    cat "$demo/logs/update-server.log" >&2
    die "the update server did not start"
}

# The driver's debug output, on the client side where the tool listens.
$VELMORA_NS_CLIENT "$prog/velmora-debugd" --rate 10 >"$demo/logs/debugd.log" 2>&1 &
pids+=("$!")

say "private network up: $VELMORA_C1_IF -> Living Room, $VELMORA_C2_IF -> Studio (2 outputs), $VELMORA_C3_IF -> Studio"
say "program directory $prog, driver settings in $demo/settings"
say "update server https://$VELMORA_UPDATE_SERVER/ (user $VELMORA_UPDATE_USER); downloads in $demo/downloads, installer starts in $VELMORA_MSIEXEC_LOG"
if [ -x "$prog/velmora-ctl" ]; then
    say "the players as discovery sees them:"
    $VELMORA_NS_CLIENT "$prog/velmora-ctl" discover >&2 || true
fi

if [ -x "$prog/velmora-configure" ]; then
    say "starting velmora-configure on $DISPLAY (close it or press Ctrl-C to end the demo)"
    # The display's unix socket and its cookie reach the namespace as files.
    # In the background, so that Ctrl-C or a signal to this script ends
    # the tool and removes everything at once.
    "${VELMORA_PDEATH[@]}" $VELMORA_NS_CLIENT env DISPLAY="$DISPLAY" ${XAUTHORITY:+XAUTHORITY="$XAUTHORITY"} \
        "$prog/velmora-configure" "${tool_args[@]}" </dev/null &
    tool=$!
    pids=("$tool" "${pids[@]}")
    wait "$tool"
    rc=$?
else
    say "velmora-configure is not built yet; showing the command-line tool instead"
    $VELMORA_NS_CLIENT "$prog/velmora-ctl" --help
    rc=$?
fi
exit $rc
