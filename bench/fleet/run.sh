#!/usr/bin/env bash
# bench/fleet/run.sh BUILD_DIR [ROUNDS]
#
# Fleet updates, run by hand (not part of the tests): four emulated players,
# each in a target namespace of its own, and the real HTTPS update server
# (scripts/update-server.sh) in a private network that the script builds
# and removes on every exit. Every player names the built-in server; the
# image is its 1 MiB fw-2.5.0.bin. For ROUNDS rounds (default 3),
# interleaved, it times with velmora-ctl update --latest:
#   one       one player alone
#   serial    all four, one after another (--parallel 1)
#   parallel  all four at the same time (--parallel 4)
# and checks after each run that the run exited 0 and that every player
# stored exactly the served image. It prints the medians, the ratio
# serial / parallel, and one update against the sum of its fixed waits:
# the update's three one-second pauses that do not overlap the reboot, the
# emulator's write time (WRITE_MS, default 1000) and its reboot silence
# (SILENCE_MS, default 3000; the pause after the reboot request lies inside
# it). What is left is the tool's own time: discovery, the queries, the
# list and the image download, the data phase and the polling slack.
#
# Needs velmora-ctl and velmora-target-sim in BUILD_DIR/bin (a release
# build: -DCMAKE_BUILD_TYPE=Release) and nginx (scripts/setup-deps.sh).

set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=../../scripts/lib/netns.sh
. "$root/scripts/lib/netns.sh"

if [ $# -lt 1 ] || [ "$1" = "--help" ]; then
    sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
fi
build=$(cd "$1" && pwd) || exit 2
rounds=${2:-3}
write_ms=${WRITE_MS:-1000}
silence_ms=${SILENCE_MS:-3000}
bin=$build/bin
for p in velmora-ctl velmora-target-sim; do
    [ -x "$bin/$p" ] || { echo "bench: $bin/$p is missing" >&2; exit 2; }
done

velmora_net_reexec_unprivileged "$0" "$@"
velmora_net_up 4

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-bench-fleet.XXXXXX")
chmod 755 "$work"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    velmora_net_down
    rm -rf "$work"
}
trap cleanup EXIT
trap 'cleanup; exit 130' INT
trap 'cleanup; exit 143' TERM

run_client() { $VELMORA_NS_CLIENT "$@"; }

run_client "$root/scripts/update-server.sh" --ctl "$bin/velmora-ctl" --dir "$work/srv" \
    --ca-out "$work/ca.pem" >"$work/server.out" 2>"$work/server.err" &
pids+=("$!")
for _ in $(seq 600); do
    grep -q '^ready' "$work/server.out" 2>/dev/null && break
    sleep 0.1
done
grep -q '^ready' "$work/server.out" || { cat "$work/server.err" >&2; echo "bench: the update server did not start" >&2; exit 1; }
served=$work/srv/www/living-room/fw-2.5.0.bin

eps=()
for k in 1 2 3 4; do
    eval "prefix=\$VELMORA_NS_T$k"
    $prefix "$bin/velmora-target-sim" --log-port 0 --target "Player $k" --id 5 --port 19650 --version 2.4.1 \
        --source certificarono/living-room/ --reboot-silence "$silence_ms" --write-ms="$write_ms" \
        --image="$work/p$k.img" >"$work/sim$k.log" 2>&1 &
    pids+=("$!")
    eval "eps+=(\"\$VELMORA_T${k}_ADDR%\$VELMORA_C${k}_IF,19650\")"
done
for k in 1 2 3 4; do
    for _ in $(seq 200); do grep -q ready "$work/sim$k.log" && break; sleep 0.05; done
    grep -q ready "$work/sim$k.log" || { cat "$work/sim$k.log" >&2; exit 1; }
done

# seconds with three decimals of one velmora-ctl update run; checks it
timed() { # name players ctl-args...
    local name=$1 players=$2 t0 t1 k
    shift 2
    rm -f "$work"/p?.img
    t0=$(date +%s%N)
    if ! VELMORA_UPDATE_CA=$work/ca.pem run_client "$bin/velmora-ctl" update --latest "$@" \
        >"$work/$name.out" 2>"$work/$name.err"; then
        cat "$work/$name.out" "$work/$name.err" >&2
        echo "bench: $name failed" >&2
        exit 1
    fi
    t1=$(date +%s%N)
    for k in $(seq "$players"); do
        cmp -s "$served" "$work/p$k.img" || { echo "bench: $name: player $k stored another image" >&2; exit 1; }
    done
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", (b - a) / 1e9 }'
}

one=() serial=() parallel=()
for r in $(seq "$rounds"); do
    one+=("$(timed one 1 "${eps[0]}")") || exit 1
    serial+=("$(timed serial 4 --parallel 1 "${eps[@]}")") || exit 1
    parallel+=("$(timed parallel 4 --parallel 4 "${eps[@]}")") || exit 1
    echo "round $r: one ${one[-1]} s, serial ${serial[-1]} s, parallel ${parallel[-1]} s"
done

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
m_one=$(median "${one[@]}")
m_serial=$(median "${serial[@]}")
m_parallel=$(median "${parallel[@]}")
fixed=$(awk -v w="$write_ms" -v s="$silence_ms" 'BEGIN { printf "%.3f", 3 + w / 1000 + s / 1000 }')
echo
echo "median of $rounds rounds (1 MiB image, write ${write_ms} ms, reboot silence ${silence_ms} ms):"
echo "  one player              $m_one s"
echo "  four, one after another $m_serial s"
echo "  four, --parallel 4      $m_parallel s"
awk -v s="$m_serial" -v p="$m_parallel" 'BEGIN { printf "  serial / parallel       %.2fx\n", s / p }'
awk -v o="$m_one" -v f="$fixed" 'BEGIN { printf "  one update: fixed waits %.3f s, the rest %.3f s (%.0f %% of the update)\n", f, o - f, (o - f) * 100 / o }'
echo "one update's progress (the last run of one):"
sed 's/^/  /' "$work/one.err"
