#!/usr/bin/env bash
# scripts/testnet.sh CMD ARGS...
#
# Runs CMD inside a private test network and removes the network on every
# exit path: a client network namespace and two target namespaces, each
# target joined to the client by its own veth pair, link-local addresses
# usable at once, lo up everywhere. Nothing reaches the machine's real
# interfaces. As root it uses ip netns; otherwise an unprivileged user
# namespace. If namespaces cannot be made it fails (exit 1) with a message.
# The exit status is CMD's. Every start first removes the namespaces and
# folders that killed runs left behind, and says so on standard error.
#
# Input: VELMORA_NET_TARGETS (optional) = number of target namespaces (2).
#
# CMD runs in the client namespace with these variables (k = 1, 2):
#   VELMORA_TESTNET=1     marker: inside the private network
#   VELMORA_NET_MODE      netns (root) or userns (unprivileged)
#   VELMORA_NET_TARGETS   number of target namespaces
#   VELMORA_NS_CLIENT     command prefix for the client namespace (may be
#                         empty: CMD already runs there)
#   VELMORA_NS_Tk         command prefix: run a program inside target
#                         namespace k: $VELMORA_NS_T1 program args
#   VELMORA_Ck_IF         client-side interface of pair k: vc1, vc2
#   VELMORA_Ck_INDEX      its interface index (client namespace)
#   VELMORA_Ck_ADDR       its address: fe80::c:1, fe80::c:2
#   VELMORA_Ck_ADDR4      its IPv4 link-local address: 169.254.k.1
#   VELMORA_Tk_IF         the target-side interface: vt1, vt2
#   VELMORA_Tk_INDEX      its interface index (target namespace k)
#   VELMORA_Tk_ADDR       its address: fe80::1:1, fe80::2:1
#   VELMORA_Tk_ADDR4      its IPv4 link-local address: 169.254.k.2
# Addresses come without scope; a target is reached from the client as
# $VELMORA_T1_ADDR%$VELMORA_C1_IF.
#
# Example: scripts/testnet.sh sh -c 'env | grep VELMORA_; ip -6 addr'

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib/netns.sh
. "$here/lib/netns.sh"

if [ $# -eq 0 ]; then
    echo "usage: scripts/testnet.sh CMD [ARGS...]" >&2
    exit 2
fi

velmora_net_reexec_unprivileged "$0" "$@"
velmora_net_up "${VELMORA_NET_TARGETS:-2}"

child=
stop_child() {
    [ -n "$child" ] && kill "$child" 2>/dev/null
    velmora_net_down
}
trap 'stop_child; exit 130' INT
trap 'stop_child; exit 143' TERM
trap 'stop_child; exit 129' HUP

# In the background, so that a signal to this script is handled at once
# (and the network removed) instead of after CMD ends. CMD gets SIGTERM
# when this script ends, even by SIGKILL; the namespaces of a run killed
# so are removed by the next start (velmora_net_up).
"${VELMORA_PDEATH[@]}" $VELMORA_NS_CLIENT "$@" &
child=$!
wait "$child"
rc=$?
child=
velmora_net_down
exit $rc
