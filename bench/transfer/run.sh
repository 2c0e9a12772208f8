#!/usr/bin/env bash
# bench/transfer/run.sh BUILD_DIR [ROUNDS]
#
# Firmware image transfer against TFTP on the same path, run by hand (not
# part of the tests). Builds its own private network (one veth pair between
# a client and a target namespace, IPv6 and IPv4 link-local addresses) and
# removes it on every exit. Needs velmora-ctl, velmora-target-sim and
# velmora-bench-rtt in BUILD_DIR/bin (configure with -DVELMORA_BENCH=ON and
# a release build type), and atftp/atftpd.
#
# With a 16 MiB random image and 1024-byte blocks it times, interleaved
# round-robin for ROUNDS rounds (default 3), each checked byte for byte:
#   ours stop-and-wait  velmora-ctl transfer --burst 1 (the update dialog's way)
#   ours window 16      a slot window of 16, no burst limit (--burst 0)
#   TFTP windowsize 1   atftp put to atftpd, blksize 1024
#   TFTP windowsize 16  the same with windowsize 16 (RFC 7440)
#   ours with 1 % of the data blocks lost (the emulator's seeded loss), both
#   modes, giving the time added per lost block
# and the round trip of a 1040-byte UDP datagram (median), which bounds
# stop-and-wait at 1024 bytes per round trip.
#
# Whether both ends share a CPU core changes stop-and-wait figures about
# tenfold, so by default the client side runs on CPU 0 and the target side
# on CPU 1 (PIN=0 turns that off); only ratios from one run compare.
# MB/s are 10^6 bytes per second.

set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=../../scripts/lib/netns.sh
. "$root/scripts/lib/netns.sh"

if [ $# -lt 1 ] || [ "$1" = "--help" ]; then
    sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
fi
build=$(cd "$1" && pwd) || exit 2
rounds=${2:-3}
bin=$build/bin
for p in velmora-ctl velmora-target-sim velmora-bench-rtt; do
    [ -x "$bin/$p" ] || { echo "bench: $bin/$p is missing (build with -DVELMORA_BENCH=ON)" >&2; exit 2; }
done
for p in atftp atftpd taskset; do
    command -v $p >/dev/null || { echo "bench: $p is missing" >&2; exit 2; }
done

velmora_net_reexec_unprivileged "$0" "$@"
# What killed runs left behind is removed first, with messages "bench: ...".
export VELMORA_NET_WHO=bench
velmora_net_up 1

# With this run's process id: a later start removes it if this run is killed.
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-bench.pid$$.XXXXXX")
chmod 755 "$work"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    velmora_net_down
    rm -rf "$work"
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
T=($VELMORA_NS_T1)

size=$((16 * 1024 * 1024))
head -c $size /dev/urandom >"$work/image.bin"
mkdir "$work/tftp"
chmod 777 "$work/tftp"

# Target side: the emulator with a clean and a lossy target, the TFTP
# server, the echo peer for the round trip.
"${T[@]}" "${pinT[@]}" "$bin/velmora-target-sim" --log-port 0 \
    --target clean --port 19650 --window=16 --windows=1024 --received="$work/clean.bin" \
    --target lossy --port 19651 --window=16 --windows=1024 --received="$work/lossy.bin" \
    --lose-blocks=0.01 --seed=7 --storage-log=1 >"$work/sim.log" 2>&1 &
pids+=($!)
"${VELMORA_PDEATH[@]}" "${T[@]}" "${pinT[@]}" atftpd --daemon --no-fork --port 69 --bind-address "$VELMORA_T1_ADDR4" \
    --user root --group root --logfile "$work/atftpd.log" "$work/tftp" &
pids+=($!)
"${VELMORA_PDEATH[@]}" "${T[@]}" "${pinT[@]}" "$bin/velmora-bench-rtt" echo "$VELMORA_T1_ADDR%$VELMORA_T1_IF" 19700 &
pids+=($!)
for _ in $(seq 100); do
    grep -q ready "$work/sim.log" 2>/dev/null && break
    sleep 0.05
done
grep -q ready "$work/sim.log" || { echo "bench: the emulator did not start:" >&2; cat "$work/sim.log" >&2; exit 1; }
sleep 0.3

ep_clean="$VELMORA_T1_ADDR%$VELMORA_C1_IF,19650"
ep_lossy="$VELMORA_T1_ADDR%$VELMORA_C1_IF,19651"

now() { date +%s%N; }

# run_case NAME: one timed transfer, checked byte for byte; appends
# "NAME seconds" to results.
run_case() {
    local name=$1 start end out
    case $name in
    ours-sw | ours-win | loss-sw | loss-win)
        local ep=$ep_clean burst=1 file=$work/clean.bin
        case $name in *win) burst=0 ;; esac
        case $name in loss-*) ep=$ep_lossy file=$work/lossy.bin ;; esac
        rm -f "$file"
        start=$(now)
        "${C[@]}" "${pinC[@]}" "$bin/velmora-ctl" transfer "$ep" "$work/image.bin" --burst $burst \
            >/dev/null 2>"$work/ctl.err" || { echo "bench: $name failed:" >&2; cat "$work/ctl.err" >&2; exit 1; }
        end=$(now)
        out=$file
        ;;
    tftp-1 | tftp-16)
        local ws=${name#tftp-}
        rm -f "$work/tftp/up.bin"
        start=$(now)
        "${C[@]}" "${pinC[@]}" atftp --option "blksize 1024" --option "windowsize $ws" \
            -p -l "$work/image.bin" -r up.bin "$VELMORA_T1_ADDR4" 69 >"$work/tftp.out" 2>&1 ||
            { echo "bench: $name failed:" >&2; cat "$work/tftp.out" >&2; exit 1; }
        end=$(now)
        out=$work/tftp/up.bin
        ;;
    esac
    cmp -s "$work/image.bin" "$out" || { echo "bench: $name: the received file differs from the image" >&2; exit 1; }
    echo "$name $(((end - start) / 1000))" >>"$work/results"
    if [ "${name#loss-}" != "$name" ]; then
        # The emulator's log names the blocks it dropped in this transfer.
        grep -o 'data blocks lost [0-9]*' "$work/sim.log" | tail -1 | awk -v n="$name" '{print n, $4}' >>"$work/lost"
    fi
    printf '  %-9s %8.3f s\n' "$name" "$(echo "($end - $start) / 1000000000" | bc -l)" >&2
}

echo "round trip of a 1040-byte datagram..." >&2
rtt=$("${C[@]}" "${pinC[@]}" "$bin/velmora-bench-rtt" ping "$VELMORA_T1_ADDR%$VELMORA_C1_IF" 19700 5000 1040) ||
    { echo "bench: no round trip" >&2; exit 1; }

: >"$work/results"
: >"$work/lost"
for r in $(seq "$rounds"); do
    echo "round $r of $rounds" >&2
    for c in ours-sw ours-win tftp-1 tftp-16 loss-sw loss-win; do
        run_case $c
    done
done
rtt2=$("${C[@]}" "${pinC[@]}" "$bin/velmora-bench-rtt" ping "$VELMORA_T1_ADDR%$VELMORA_C1_IF" 19700 5000 1040)

awk -v size=$size -v rtt="$rtt" -v rtt2="$rtt2" -v rounds="$rounds" -v pin="${PIN:-1}" '
function sortn(a, n,   i, j, t) { for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t } }
FNR == NR { n[$1]++; us[$1, n[$1]] = $2; next }
{ lostn[$1]++; lost[$1, lostn[$1]] = $2 }
END {
    split(rtt, R, " "); split(rtt2, R2, " ")
    rttMed = (R[1] + R2[1]) / 2
    bound = 1024 / rttMed # bytes per microsecond = MB/s
    split("ours-sw ours-win tftp-1 tftp-16 loss-sw loss-win", order, " ")
    label["ours-sw"] = "ours stop-and-wait (burst 1)"
    label["ours-win"] = "ours window 16, no burst limit"
    label["tftp-1"] = "TFTP windowsize 1"
    label["tftp-16"] = "TFTP windowsize 16"
    label["loss-sw"] = "ours stop-and-wait, 1 % lost"
    label["loss-win"] = "ours window 16, 1 % lost"
    printf "16 MiB image, 1024-byte blocks, %d rounds interleaved%s\n\n", rounds, pin == 1 ? ", client on CPU 0, target on CPU 1" : ""
    printf "| case | MB/s min | MB/s median | MB/s max | s median |\n|---|---|---|---|---|\n"
    for (k = 1; k <= 6; k++) {
        c = order[k]; m = n[c]
        for (i = 1; i <= m; i++) v[i] = us[c, i]
        sortn(v, m)
        med[c] = v[int((m + 1) / 2)]
        printf "| %s | %.1f | %.1f | %.1f | %.3f |\n", label[c], size / v[m], size / med[c], size / v[1], med[c] / 1e6
    }
    printf "\nround trip of 1040 bytes: median %.1f us (before %.1f, after %.1f; min %.1f); stop-and-wait bound 1024 B / RTT = %.1f MB/s\n\n", rttMed, R[1], R2[1], R[2], bound
    printf "| ratio | value | goal |\n|---|---|---|\n"
    printf "| ours stop-and-wait / TFTP windowsize 1 | %.2f | >= 1.0 |\n", med["tftp-1"] / med["ours-sw"]
    printf "| ours window 16 / TFTP windowsize 16 | %.2f | >= 1.0 |\n", med["tftp-16"] / med["ours-win"]
    printf "| ours stop-and-wait / bound | %.2f | >= 0.90 |\n", (size / med["ours-sw"]) / bound
    for (k = 5; k <= 6; k++) {
        c = order[k]; base = (c == "loss-sw") ? "ours-sw" : "ours-win"
        total = 0; blocks = 0
        for (i = 1; i <= n[c]; i++) { total += us[c, i] - med[base]; blocks += lost[c, i] }
        if (blocks > 0)
            printf "| %s: added per lost block (%d lost in %d runs) | %.1f ms | <= 100 ms |\n", label[c], blocks, n[c], total / blocks / 1000
    }
}' "$work/results" "$work/lost"
