#!/usr/bin/env bash
# bench/flood/run.sh BUILD_DIR [ROUNDS]
#
# The target protocol under a flood of foreign datagrams, run by hand (not
# part of the tests). Builds its own private network (a client namespace and
# two target namespaces, each joined to the client by a veth pair) and
# removes it on every exit. Needs velmora-target-sim, velmora-bench-flood and
# velmora-bench-flood-client in BUILD_DIR/bin (configure with
# -DVELMORA_BENCH=ON and a release build type).
#
# Target namespace 1 holds the emulator with an answering target (port
# 19650) and a silent one (port 19651, --fault silent); namespace 2 holds no
# target. Each case is one operation of the protocol library, timed inside
# velmora-bench-flood-client:
#   probe-silent   probe of the silent target (ends as a time-out)
#   discover-none  discovery on the link without a target
#   discover-one   discovery on the link with the answering target
#   probe          probe of the answering target
#   transfer       SIZE bytes (default 4 MiB) into the answering target,
#                  burst BURST (default 1: stop-and-wait, as the update
#                  dialog sends)
# and runs once quiet and once under each flood of FLOODS per round, the
# rounds interleaved (default 5).
#
# The flood comes from velmora-bench-flood at the far end of the client's
# link (the target's namespace on that link: a hostile device there sees the
# link's traffic), aimed at the client's own port. FLOODS lists the floods,
# each MODE or MODE@RATE (datagrams/s; without it as fast as one sender
# goes), default "fixed follow":
#   fixed   the client binds a port known in advance (through the library's
#           socket layer) and the flood runs at it from before the operation
#           starts: the worst case, a client whose port the attacker learnt
#           earlier
#   follow  the client takes a port the system chooses, as velmora-ctl does;
#           the flooder watches the link and floods the source port of the
#           client's newest datagram from the moment it sees it: what a
#           device on the link can do (the Hello to ff02::1 reaches every
#           node; a shared medium carries the rest)
# The datagrams are well-formed 16-byte datagrams of command 99 and 1-64
# bytes of junk (KINDS, see velmora-bench-flood --help).
#
# Goals: under every flood, the probe of the silent target and both
# discoveries end within 10 % of their quiet median (median against
# median), the probe and the transfer succeed in every run; their slowdown
# is reported. The exit status is 1 when a goal was missed.
#
# By default the client runs on CPU 0, the emulator and the flooder on
# CPU 1 (PIN=0 turns that off). Other load on the machine shows in the
# figures: compare only figures from one run.

set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=../../scripts/lib/netns.sh
. "$root/scripts/lib/netns.sh"

usage() {
    sed -n '2,/^$/s/^# \{0,1\}//p' "$0"
    echo "Environment: FLOODS, SIZE, BURST, KINDS, PIN, OP_TIMEOUT (seconds per operation, default 600),"
    echo "KEEP=1 (keep the run's folder: results, emulator and flooder output)."
}
if [ $# -lt 1 ]; then
    usage >&2
    exit 2
fi
if [ "$1" = "--help" ] || [ "$1" = "-h" ]; then
    usage
    exit 0
fi
build=$(cd "$1" && pwd) || exit 2
rounds=${2:-5}
case $rounds in '' | *[!0-9]* | 0) echo "bench: ROUNDS must be a positive number" >&2; exit 2 ;; esac
bin=$build/bin
for p in velmora-target-sim velmora-bench-flood velmora-bench-flood-client; do
    [ -x "$bin/$p" ] || { echo "bench: $bin/$p is missing (build with -DVELMORA_BENCH=ON)" >&2; exit 2; }
done
command -v taskset >/dev/null || { echo "bench: taskset is missing" >&2; exit 2; }
floods=${FLOODS:-fixed follow}
for f in $floods; do
    case $f in
    fixed | follow | fixed@[0-9]* | follow@[0-9]*) ;;
    *) echo "bench: bad flood \"$f\" in FLOODS: fixed or follow, optionally @RATE" >&2; exit 2 ;;
    esac
done
size=${SIZE:-4194304}
burst=${BURST:-1}
kinds=${KINDS:-cmd99,junk}
op_timeout=${OP_TIMEOUT:-600}

velmora_net_reexec_unprivileged "$0" "$@"
velmora_net_up 2

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-flood.XXXXXX")
chmod 755 "$work"
sim_pid=
flood_pid=
cleanup() {
    [ -n "$flood_pid" ] && kill "$flood_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    wait 2>/dev/null
    velmora_net_down
    if [ -n "${KEEP:-}" ]; then
        echo "bench: the run's files are in $work" >&2
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'cleanup; exit 130' INT
trap 'cleanup; exit 143' TERM

pinC=()
pinT=()
if [ "${PIN:-1}" = 1 ]; then
    pinC=(taskset -c 0)
    pinT=(taskset -c 1)
fi
C=($VELMORA_NS_CLIENT)
T1=($VELMORA_NS_T1)
T2=($VELMORA_NS_T2)
known_port=40000

"${T1[@]}" "${pinT[@]}" "$bin/velmora-target-sim" --log-port 0 \
    --target answering --id 5 --port 19650 \
    --target silent --id 6 --port 19651 --fault silent >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    grep -q '^ready$' "$work/sim.log" 2>/dev/null && break
    sleep 0.05
done
grep -q '^ready$' "$work/sim.log" || { echo "bench: the emulator did not start:" >&2; cat "$work/sim.log" >&2; exit 1; }

ep_answering="$VELMORA_T1_ADDR%$VELMORA_C1_IF,19650"
ep_silent="$VELMORA_T1_ADDR%$VELMORA_C1_IF,19651"

# start_flood FLOOD CASE: the flooder on the far end of the link the case
# uses; waits until it is ready.
start_flood() {
    local flood=$1 case=$2 mode rate=0 ns addr port
    mode=${flood%@*}
    [ "$mode" != "$flood" ] && rate=${flood#*@}
    if [ "$case" = discover-none ]; then
        ns=("${T2[@]}") addr="$VELMORA_C2_ADDR%$VELMORA_T2_IF"
    else
        ns=("${T1[@]}") addr="$VELMORA_C1_ADDR%$VELMORA_T1_IF"
    fi
    if [ "$mode" = follow ]; then
        port=(--follow 0)
    else
        port=($known_port)
    fi
    : >"$work/flood.out"
    "${ns[@]}" "${pinT[@]}" "$bin/velmora-bench-flood" --kinds "$kinds" --rate "$rate" "$addr" "${port[@]}" \
        >"$work/flood.out" 2>"$work/flood.err" &
    flood_pid=$!
    for _ in $(seq 100); do
        grep -q '^ready$' "$work/flood.out" && break
        kill -0 "$flood_pid" 2>/dev/null || break
        sleep 0.02
    done
    grep -q '^ready$' "$work/flood.out" || { echo "bench: the flooder did not start:" >&2; cat "$work/flood.err" >&2; exit 1; }
    # A fixed flood is under way before the operation starts.
    [ "$mode" = fixed ] && sleep 0.2
    return 0
}

# stop_flood: stops the flooder and sets flood_rate to its rate
# (datagrams/s; 0 when it never sent). Not in a subshell: it waits for the
# flooder, which is a child of this shell.
stop_flood() {
    local status
    kill "$flood_pid" 2>/dev/null
    wait "$flood_pid" 2>/dev/null
    status=$?
    flood_pid=
    cat "$work/flood.out" "$work/flood.err" >>"$work/flood.log"
    if [ $status -ne 0 ] || grep -qE 'Sanitizer|runtime error:' "$work/flood.err"; then
        echo "bench: the flooder ended with status $status:" >&2
        cat "$work/flood.err" >&2
        exit 1
    fi
    flood_rate=$(sed -n 's/^sent [0-9]* datagrams in [0-9.]* s: \([0-9]*\) datagrams\/s.*/\1/p' "$work/flood.out")
}

# run_case CASE FLOOD: one timed operation; appends a line to results:
#   CASE FLOOD VERDICT MICROS RECEIVED FOREIGN DROPPED FLOODRATE LAST
# VERDICT is ok when the operation ended as it should (the silent probe
# with a time-out, discover-none with no target, discover-one with the
# target, probe and transfer with success).
run_case() {
    local case=$1 flood=$2 port=() line verdict rate=- result micros received foreign dropped targets last
    if [ "$flood" != quiet ]; then
        start_flood "$flood" "$case"
        [ "${flood%@*}" = fixed ] && port=(--port $known_port)
    fi
    local args
    case $case in
    probe-silent) args=(probe "$ep_silent") ;;
    discover-none) args=(discover "$VELMORA_C2_IF") ;;
    discover-one) args=(discover "$VELMORA_C1_IF") ;;
    probe) args=(probe "$ep_answering") ;;
    transfer) args=(transfer "$ep_answering" "$size" --burst "$burst") ;;
    esac
    line=$("${C[@]}" "${pinC[@]}" timeout "$op_timeout" "$bin/velmora-bench-flood-client" "${args[@]}" "${port[@]}" 2>"$work/client.err")
    local rc=$?
    if [ "$flood" != quiet ]; then
        stop_flood
        rate=$flood_rate
    fi
    [ -n "$rate" ] || rate=0
    if [ $rc -eq 124 ]; then
        line="timeout $((op_timeout * 1000000)) received=-1 foreign=-1 dropped=-1 targets=0 last=-1"
    elif [ $rc -ne 0 ]; then
        echo "bench: $case ($flood) could not run:" >&2
        cat "$work/client.err" >&2
        exit 1
    fi
    read -r result micros received foreign dropped targets last <<<"$line"
    received=${received#received=} foreign=${foreign#foreign=} dropped=${dropped#dropped=} targets=${targets#targets=}
    last=${last#last=}
    verdict=bad
    case $case in
    probe-silent) [ "$result" = failed ] && verdict=ok ;;
    discover-none) [ "$result" = ok ] && [ "$targets" = 0 ] && verdict=ok ;;
    discover-one) [ "$result" = ok ] && [ "$targets" = 1 ] && verdict=ok ;;
    *) [ "$result" = ok ] && verdict=ok ;;
    esac
    echo "$case $flood $verdict $micros $received $foreign $dropped $rate $last" >>"$work/results"
    printf '  %-13s %-13s %-4s %9.1f ms  read %8s  dropped %8s  flood %7s/s  last request %s\n' "$case" "$flood" \
        "$verdict" "$(echo "$micros / 1000" | bc -l)" "$received" "$dropped" "$rate" "$last" >&2
}

: >"$work/results"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for r in $(seq "$rounds"); do
    echo "round $r of $rounds" >&2
    for c in probe-silent discover-none discover-one probe transfer; do
        run_case "$c" quiet
        for f in $floods; do
            run_case "$c" "$f"
        done
    done
done

load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# The emulator must have run cleanly all along.
kill "$sim_pid" 2>/dev/null
wait "$sim_pid"
sim_status=$?
sim_pid=
if [ $sim_status -ne 0 ] || grep -qE 'Sanitizer|runtime error:' "$work/sim.log"; then
    echo "bench: the emulator ended with status $sim_status:" >&2
    tail -40 "$work/sim.log" >&2
    exit 1
fi

awk -v load="before $load_before, after $load_after" -v rounds="$rounds" -v floods="$floods" -v size="$size" -v burst="$burst" -v pin="${PIN:-1}" '
function sortn(a, n,   i, j, t) { for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t } }
function median(key, field,   i, m, v) { m = n[key]; for (i = 1; i <= m; i++) v[i] = val[key, i, field]; sortn(v, m); return v[int((m + 1) / 2)] }
function minimum(key, field,   i, m, v) { m = n[key]; for (i = 1; i <= m; i++) v[i] = val[key, i, field]; sortn(v, m); return v[1] }
function maximum(key, field,   i, m, v) { m = n[key]; for (i = 1; i <= m; i++) v[i] = val[key, i, field]; sortn(v, m); return v[m] }
{
    key = $1 SUBSEP $2; k = ++n[key]
    for (f = 3; f <= 9; f++) val[key, k, f] = $f
    if ($3 == "ok") good[key]++
    else lastOfBad[key] = lastOfBad[key] (lastOfBad[key] == "" ? "" : ", ") $9
}
END {
    split("probe-silent discover-none discover-one probe transfer", cases, " ")
    nf = split("quiet " floods, fl, " ")
    printf "%d rounds interleaved; transfer %d bytes, burst %d%s; load average (1, 5, 15 min) %s\n\n", rounds, size, burst, pin == 1 ? "; client on CPU 0, emulator and flooder on CPU 1" : "", load
    printf "| case | flood | as expected | ms min | ms median | ms max | median / quiet | flood datagrams/s (median) | read by the client (median) | dropped at the client (median) | last request of the runs not as expected | goal |\n"
    printf "|---|---|---|---|---|---|---|---|---|---|---|---|\n"
    missed = 0
    for (c = 1; c <= 5; c++) {
        cs = cases[c]; q = cs SUBSEP "quiet"; qmed = median(q, 4)
        for (f = 1; f <= nf; f++) {
            key = cs SUBSEP fl[f]
            if (!(key in n)) continue
            med = median(key, 4)
            ratio = qmed > 0 ? med / qmed : 0
            goal = ""
            if (fl[f] != "quiet") {
                if (cs == "probe-silent" || cs ~ /^discover/) {
                    met = (ratio <= 1.10 && good[key] == n[key])
                    goal = met ? "met" : "MISSED"
                } else {
                    met = (good[key] == n[key])
                    goal = met ? "met" : "MISSED"
                }
                if (!met) missed++
            }
            printf "| %s | %s | %d of %d | %.1f | %.1f | %.1f | %s | %s | %s | %s | %s | %s |\n", cs, fl[f], good[key], n[key], \
                minimum(key, 4) / 1000, med / 1000, maximum(key, 4) / 1000, fl[f] == "quiet" ? "1" : sprintf("%.2f", ratio), \
                fl[f] == "quiet" ? "-" : median(key, 8), median(key, 5), median(key, 7), lastOfBad[key] == "" ? "-" : lastOfBad[key], goal
        }
    }
    printf "\n%s\n", missed ? missed " goal(s) missed" : "all goals met"
    exit missed ? 1 : 0
}' "$work/results"
