#!/usr/bin/env bash
# scripts/simnet.sh [OPTIONS] [CMD ARGS...]
#
# Starts the target emulator in a private network and runs CMD on the
# client side (default: an interactive shell), then stops the emulators and
# removes the network. The network is the one of scripts/testnet.sh (see
# lib/netns.sh for the variables CMD gets); the program directory is put
# first on PATH, so velmora-ctl runs as is.
#
# Options:
#   --bin DIR       program directory with velmora-target-sim
#                   (default: $VELMORA_PROGRAM_DIR, else build/bin)
#   --t1 'ARGS'     emulator arguments in target namespace 1
#   --t2 'ARGS'     emulator arguments in target namespace 2
#   --verbose       start the emulators with --verbose
#   --log DIR       write the emulators' output to DIR/sim-t1.log, sim-t2.log
#                   (default: a temporary folder, removed afterwards)
#   --update-server also start the HTTPS update server of the tests
#                   (scripts/update-server.sh, on [::1]:18443 in the client
#                   namespace, with its demo content). CMD then gets
#                   VELMORA_UPDATE_CA (the server's CA certificate) and
#                   VELMORA_UPDATE_URL (https://[::1]:18443/); the server's
#                   output is DIR/update-server.log, its access log
#                   DIR/update-access.log (DIR: the --log folder)
# Default targets:
#   namespace 1: "Velmora Out-A" and "Velmora Out-B", one player with two
#                outputs: address fe80::1:1, ports 19650 and 19651, id 5
#   namespace 2: "Velmora Unset" with the all-ones identifier (never listed
#                by discovery) and "Velmora Solo", id 7, port 19652
#
# Example:
#   scripts/simnet.sh velmora-ctl discover
#   scripts/simnet.sh sh -c 'velmora-ctl version "$VELMORA_T1_ADDR%$VELMORA_C1_IF,19650"'
#   scripts/simnet.sh --update-server sh -c 'curl --cacert "$VELMORA_UPDATE_CA" \
#       -u velmora-test-usr:tEst-pw-4-Nginx! "${VELMORA_UPDATE_URL}living-room/updatelist"'

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib/netns.sh
. "$here/lib/netns.sh"

bin=${VELMORA_PROGRAM_DIR:-$here/../build/bin}
t1_args='--target "Velmora Out-A" --id 5 --port 19650 --version 2.4.1 --source https://updates.example.invalid/velmora --target "Velmora Out-B" --id 5 --port 19651 --version 2.4.1 --source https://updates.example.invalid/velmora'
t2_args='--target "Velmora Unset" --id all-ones --port 19650 --target "Velmora Solo" --id 7 --port 19652 --version 1.9.0 --log-text "boot ok\n" --log-every 1000'
verbose=
logdir=
update_server=
while [ $# -gt 0 ]; do
    case "$1" in
    --bin) bin=$2; shift 2 ;;
    --t1) t1_args=$2; shift 2 ;;
    --t2) t2_args=$2; shift 2 ;;
    --verbose) verbose=--verbose; shift ;;
    --log) logdir=$2; shift 2 ;;
    --update-server) update_server=1; shift ;;
    -h | --help) sed -n '2,/^$/s/^# \{0,1\}//p' "$0"; exit 0 ;;
    --) shift; break ;;
    *) break ;;
    esac
done
bin=$(cd "$bin" 2>/dev/null && pwd) || { echo "simnet: no program directory $bin (build first, or give --bin)" >&2; exit 1; }
sim="$bin/velmora-target-sim"
[ -x "$sim" ] || { echo "simnet: $sim is missing (build the target velmora-target-sim)" >&2; exit 1; }

velmora_net_reexec_unprivileged "$0" --bin "$bin" --t1 "$t1_args" --t2 "$t2_args" ${verbose:+"$verbose"} \
    ${logdir:+--log "$logdir"} ${update_server:+--update-server} -- "$@"
# Messages about what killed runs left behind (removed by velmora_net_up).
export VELMORA_NET_WHO=simnet
velmora_net_up 2

own_log=
if [ -z "$logdir" ]; then
    # With this run's process id: a later start removes it if this run is
    # killed.
    logdir=$(mktemp -d "${TMPDIR:-/tmp}/velmora-simnet.pid$$.XXXXXX")
    own_log=1
fi
sims=()
server=
start_sim() { # k args
    local prefix
    eval "prefix=\$VELMORA_NS_T$1"
    eval "set -- $2 $verbose"
    $prefix "$sim" "$@" >"$logdir/sim-t$k.log" 2>&1 &
    sims+=("$!")
}
stop_all() {
    local pid
    for pid in "${sims[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${sims[@]}"; do
        wait "$pid" 2>/dev/null
    done
    sims=()
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null
        wait "$server" 2>/dev/null
        server=
    fi
    velmora_net_down
    [ -n "$own_log" ] && rm -rf "$logdir"
}
trap stop_all EXIT
trap 'stop_all; exit 130' INT
trap 'stop_all; exit 143' TERM
trap 'stop_all; exit 129' HUP

k=1; start_sim 1 "$t1_args"
k=2; start_sim 2 "$t2_args"
# Wait (bounded) until both emulators have bound their sockets.
for k in 1 2; do
    for _ in $(seq 1 100); do
        grep -q '^ready$' "$logdir/sim-t$k.log" 2>/dev/null && break
        kill -0 "${sims[$((k - 1))]}" 2>/dev/null || break
        sleep 0.05
    done
    if ! grep -q '^ready$' "$logdir/sim-t$k.log" 2>/dev/null; then
        echo "simnet: the emulator in target namespace $k did not start:" >&2
        cat "$logdir/sim-t$k.log" >&2
        exit 1
    fi
done
grep '^target ' "$logdir"/sim-t*.log | sed 's/^[^:]*sim-\(t[0-9]\)\.log:/simnet: \1 /' >&2
echo "simnet: client interfaces $VELMORA_C1_IF (index $VELMORA_C1_INDEX) -> $VELMORA_T1_ADDR, $VELMORA_C2_IF (index $VELMORA_C2_INDEX) -> $VELMORA_T2_ADDR; emulator output in $logdir" >&2

if [ -n "$update_server" ]; then
    # shellcheck source=lib/update-server.env
    . "$here/lib/update-server.env"
    "${VELMORA_PDEATH[@]}" $VELMORA_NS_CLIENT "$here/update-server.sh" --ca-out "$logdir/update-ca.pem" --ctl "$bin/velmora-ctl" \
        --access-log "$logdir/update-access.log" >"$logdir/update-server.log" 2>&1 </dev/null &
    server=$!
    # Bounded: the server gives up by itself after 10 s.
    for _ in $(seq 1 300); do
        grep -q '^ready$' "$logdir/update-server.log" 2>/dev/null && break
        kill -0 "$server" 2>/dev/null || break
        sleep 0.05
    done
    if ! grep -q '^ready$' "$logdir/update-server.log" 2>/dev/null; then
        echo "simnet: the update server did not start:" >&2
        cat "$logdir/update-server.log" >&2
        exit 1
    fi
    export VELMORA_UPDATE_CA="$logdir/update-ca.pem" VELMORA_UPDATE_URL="https://$VELMORA_UPDATE_SERVER/"
    echo "simnet: update server $VELMORA_UPDATE_URL (CA $VELMORA_UPDATE_CA)" >&2
fi

export PATH="$bin:$PATH" VELMORA_PROGRAM_DIR="$bin" VELMORA_SIM_LOG_DIR="$logdir"
if [ $# -eq 0 ]; then
    set -- "${SHELL:-/bin/bash}" -i
fi
# In the foreground: an interactive shell needs the terminal. It gets
# SIGHUP (as from a closed terminal) when this script is killed.
hangup=()
[ ${#VELMORA_PDEATH[@]} -gt 0 ] && hangup=(setpriv --pdeathsig HUP)
"${hangup[@]}" $VELMORA_NS_CLIENT "$@"
rc=$?
exit $rc
