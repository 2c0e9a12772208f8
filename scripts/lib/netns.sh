# shellcheck shell=bash
# The private test network, as a library for scripts (source it).
#
# The target protocol multicasts to ff02::1, so nothing networked may run on
# the machine's real interfaces. This builds a client network namespace and
# N target namespaces (default 2), each target joined to the client by its
# own veth pair, with link-local addresses usable at once (nodad,
# addrgenmode none), lo up everywhere, and removes it all again.
#
# As root it uses named namespaces (ip netns). Otherwise it runs inside an
# unprivileged user namespace (unshare) and holds each target namespace by a
# small process that dies with the script. If no namespace can be made it
# fails with a message: it never falls back to the real interfaces.
#
# Functions:
#   velmora_net_up [N]      build the network (call once); exports the
#                           variables below; dies on failure. It first
#                           removes what runs that have ended left behind
#                           (velmora_reap_stale; messages start with
#                           $VELMORA_NET_WHO, default "testnet")
#   velmora_net_down        remove everything (idempotent; set as trap by
#                           velmora_net_up)
#   velmora_net_client CMD  run CMD in the client namespace
#   velmora_reap_stale WHO  remove the namespaces and folders of runs that
#                           have ended (names with ".pidN")
#   VELMORA_PDEATH          command prefix: the program gets SIGTERM when
#                           the script ends, even by SIGKILL
#
# Variables exported by velmora_net_up (k = 1..N):
#   VELMORA_TESTNET=1         marker: running inside the private network
#   VELMORA_NET_MODE          "netns" (root, ip netns) or "userns"
#   VELMORA_NET_TARGETS       N
#   VELMORA_NS_CLIENT         command prefix: run a program in the client
#                             namespace (empty when already there)
#   VELMORA_NS_Tk             command prefix: run a program in target
#                             namespace k, e.g. $VELMORA_NS_T1 prog args
#   VELMORA_Ck_IF             client-side interface of pair k (vc1, vc2, ...)
#   VELMORA_Ck_INDEX          its interface index in the client namespace
#   VELMORA_Ck_ADDR           its IPv6 link-local address (fe80::c:k)
#   VELMORA_Ck_ADDR4          its IPv4 link-local address (169.254.k.1)
#   VELMORA_Tk_IF             target-side interface (vtk) in namespace k
#   VELMORA_Tk_INDEX          its interface index in target namespace k
#   VELMORA_Tk_ADDR           its IPv6 link-local address (fe80::k:1)
#   VELMORA_Tk_ADDR4          its IPv4 link-local address (169.254.k.2)
# Addresses are without scope: add %$VELMORA_Ck_IF (client side) or
# %$VELMORA_Tk_IF (target side).

velmora_net_die() {
    echo "testnet: $*" >&2
    exit 1
}

# Names unique per run, so that parallel runs never meet. They carry the
# run's process id (".pidN."), so that a later start can tell what a run
# that was killed left behind (velmora_reap_stale).
velmora_net_id() {
    printf 'velmora.pid%s.%04x.' "$$" "$((RANDOM))"
}

# A command prefix for programs a script starts in the background: the
# kernel sends them SIGTERM when the script ends, also when it is killed
# with SIGKILL and cannot stop them itself (empty where setpriv lacks it).
VELMORA_PDEATH=()
if command -v setpriv >/dev/null 2>&1 && setpriv --pdeathsig TERM true 2>/dev/null; then
    VELMORA_PDEATH=(setpriv --pdeathsig TERM)
fi

# The process id in the name of a namespace or folder of a run, or nothing
# for names of other programs. Names: velmora.pidN.XXXX.c (namespaces),
# velmora-KIND.pidN[.XXXXXX] (folders), and the namespaces of older
# versions, vmNXXXXc and vmNXXXXtK (N the id, XXXX four hex digits).
velmora_run_pid() {
    local name=$1 rest
    case $name in
    velmora.pid[0-9]*.* | velmora-*.pid[0-9]*)
        rest=${name#*.pid}
        rest=${rest%%.*}
        ;;
    *)
        [[ $name =~ ^vm([0-9]+)[0-9a-f]{4}(c|t[0-9]+)$ ]] || return 1
        rest=${BASH_REMATCH[1]}
        ;;
    esac
    [[ $rest =~ ^[0-9]+$ ]] || return 1
    echo "$rest"
}

# True while process pid runs (a zombie waiting for its parent has ended).
velmora_pid_alive() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [ -n "$stat" ] && [ "${stat%% *}" != Z ]
}

# Removes what runs that have ended left behind (a run killed with SIGKILL
# cannot clean up): their network namespaces, with whatever still runs in
# them (as root, ip netns), and their folders in ${TMPDIR:-/tmp} (only ours,
# and not one holding a file ".keep", which --keep asks for). Says so on
# standard error. A run that is still alive is never touched: the process
# id in its names still exists (this script's own included).
velmora_reap_stale() {
    local who=${1:-testnet} name pid pids folder n
    if [ "$(id -u)" = 0 ] && [ -z "${VELMORA_NET_INSIDE_USERNS:-}" ] && command -v ip >/dev/null 2>&1; then
        for name in $(ip netns list 2>/dev/null | cut -d' ' -f1); do
            pid=$(velmora_run_pid "$name") || continue
            velmora_pid_alive "$pid" && continue
            pids=$(ip netns pids "$name" 2>/dev/null | tr '\n' ' ')
            if [ -n "$pids" ]; then
                # shellcheck disable=SC2086
                kill $pids 2>/dev/null
                for n in $(seq 1 20); do
                    [ -z "$(ip netns pids "$name" 2>/dev/null)" ] && break
                    sleep 0.1
                done
                # shellcheck disable=SC2086
                kill -KILL $(ip netns pids "$name" 2>/dev/null) 2>/dev/null
            fi
            if ip netns del "$name" 2>/dev/null; then
                echo "$who: removed network namespace $name, left by run $pid, which has ended${pids:+ (stopped what still ran in it: processes ${pids% })}" >&2
            fi
        done
    fi
    for folder in "${TMPDIR:-/tmp}"/velmora-*.pid[0-9]*; do
        [ -d "$folder" ] && [ ! -L "$folder" ] && [ -O "$folder" ] || continue
        pid=$(velmora_run_pid "${folder##*/}") || continue
        velmora_pid_alive "$pid" && continue
        [ -e "$folder/.keep" ] && continue
        rm -rf "$folder" && echo "$who: removed folder $folder, left by run $pid, which has ended" >&2
    done
}

velmora_net_up() {
    [ -n "${VELMORA_HOST_NETNS:-}" ] || export VELMORA_HOST_NETNS="$(readlink /proc/self/ns/net 2>/dev/null)"
    local n=${1:-2} k
    velmora_reap_stale "${VELMORA_NET_WHO:-testnet}"
    VELMORA_NET_TARGETS=$n
    VELMORA_NET_RUN=$(velmora_net_id)
    VELMORA_NET_HOLDERS=()
    VELMORA_NET_NAMES=()
    VELMORA_NET_INODES=()
    trap velmora_net_down EXIT
    trap 'velmora_net_down; exit 130' INT
    trap 'velmora_net_down; exit 143' TERM
    trap 'velmora_net_down; exit 129' HUP

    command -v ip >/dev/null 2>&1 || velmora_net_die "the 'ip' command (iproute2) is missing: cannot build the private network"

    if [ "$(id -u)" = 0 ] && [ -z "${VELMORA_NET_INSIDE_USERNS:-}" ]; then
        VELMORA_NET_MODE=netns
        local c="${VELMORA_NET_RUN}c"
        ip netns add "$c" 2>/dev/null || velmora_net_die "cannot create network namespace $c (ip netns add failed): the network tests need network namespaces"
        VELMORA_NET_NAMES+=("$c")
        VELMORA_NS_CLIENT="ip netns exec $c"
        for ((k = 1; k <= n; k++)); do
            local t="${VELMORA_NET_RUN}t$k"
            ip netns add "$t" || velmora_net_die "cannot create network namespace $t"
            VELMORA_NET_NAMES+=("$t")
            eval "VELMORA_NS_T$k=\"ip netns exec $t\""
            ip link add "vc$k" netns "$c" type veth peer name "vt$k" netns "$t" ||
                velmora_net_die "cannot create the veth pair vc$k/vt$k"
        done
    else
        # Unprivileged (or already inside a user namespace made by the
        # script): this process's own network namespace is the client side.
        VELMORA_NET_MODE=userns
        [ -n "${VELMORA_NET_INSIDE_USERNS:-}" ] ||
            velmora_net_die "internal: not inside a user namespace"
        VELMORA_NS_CLIENT=""
        for ((k = 1; k <= n; k++)); do
            # The holder keeps the namespace alive and dies with this shell.
            setpriv --pdeathsig KILL unshare --net sleep infinity &
            local pid=$!
            VELMORA_NET_HOLDERS+=("$pid")
            local tries=0
            # Wait until the holder stands in its own namespace.
            while [ "$(readlink "/proc/$pid/ns/net" 2>/dev/null)" = "$(readlink /proc/self/ns/net)" ] ||
                [ ! -e "/proc/$pid/ns/net" ]; do
                tries=$((tries + 1))
                [ $tries -lt 200 ] || velmora_net_die "cannot create a target network namespace (unshare --net failed)"
                kill -0 "$pid" 2>/dev/null || velmora_net_die "cannot create a target network namespace (unshare --net failed)"
                sleep 0.01
            done
            eval "VELMORA_NS_T$k=\"nsenter --net=/proc/$pid/ns/net\""
            VELMORA_NET_INODES+=("$(readlink "/proc/$pid/ns/net")")
            ip link add "vc$k" type veth peer name "vt$k" netns "$pid" ||
                velmora_net_die "cannot create the veth pair vc$k/vt$k"
        done
    fi

    local prefix
    $VELMORA_NS_CLIENT ip link set lo up || velmora_net_die "cannot bring up lo in the client namespace"
    for ((k = 1; k <= n; k++)); do
        eval "prefix=\$VELMORA_NS_T$k"
        $prefix ip link set lo up || velmora_net_die "cannot bring up lo in target namespace $k"
        # No address of its own (addrgenmode none) and no duplicate address
        # detection (nodad): the fixed addresses are usable at once.
        $VELMORA_NS_CLIENT ip link set "vc$k" addrgenmode none &&
            $VELMORA_NS_CLIENT ip link set "vc$k" up &&
            $VELMORA_NS_CLIENT ip -6 addr add "fe80::c:$k/64" dev "vc$k" nodad &&
            $VELMORA_NS_CLIENT ip -4 addr add "169.254.$k.1/24" dev "vc$k" ||
            velmora_net_die "cannot set up vc$k"
        $prefix ip link set "vt$k" addrgenmode none &&
            $prefix ip link set "vt$k" up &&
            $prefix ip -6 addr add "fe80::$k:1/64" dev "vt$k" nodad &&
            $prefix ip -4 addr add "169.254.$k.2/24" dev "vt$k" ||
            velmora_net_die "cannot set up vt$k"
        export "VELMORA_NS_T$k"
        export "VELMORA_C${k}_IF=vc$k" "VELMORA_T${k}_IF=vt$k"
        export "VELMORA_C${k}_ADDR=fe80::c:$k" "VELMORA_T${k}_ADDR=fe80::$k:1"
        export "VELMORA_C${k}_ADDR4=169.254.$k.1" "VELMORA_T${k}_ADDR4=169.254.$k.2"
        # (Not from /sys: in a user namespace it shows the host's view.)
        export "VELMORA_C${k}_INDEX=$($VELMORA_NS_CLIENT ip -o link show dev "vc$k" | cut -d: -f1)"
        export "VELMORA_T${k}_INDEX=$($prefix ip -o link show dev "vt$k" | cut -d: -f1)"
    done
    export VELMORA_TESTNET=1 VELMORA_NET_MODE VELMORA_NET_TARGETS VELMORA_NS_CLIENT
}

velmora_net_down() {
    local name pid
    trap - EXIT INT TERM HUP
    if [ "${VELMORA_NET_MODE:-}" = netns ]; then
        for name in "${VELMORA_NET_NAMES[@]}"; do
            # Whatever the run started inside its namespaces ends with them.
            for pid in $(ip netns pids "$name" 2>/dev/null); do
                kill "$pid" 2>/dev/null
            done
        done
        for name in "${VELMORA_NET_NAMES[@]}"; do
            for pid in $(ip netns pids "$name" 2>/dev/null); do
                sleep 0.2
                kill -KILL "$pid" 2>/dev/null
            done
            ip netns del "$name" 2>/dev/null
        done
    fi
    if [ "${VELMORA_NET_MODE:-}" = userns ]; then
        # Whatever the run started in the namespaces (the client's is this
        # process's own) ends with them; the holders last.
        local own ns proc
        own=$(readlink /proc/self/ns/net)
        for proc in /proc/[0-9]*; do
            pid=${proc#/proc/}
            [ "$pid" = $$ ] || [ "$pid" = "$BASHPID" ] && continue
            ns=$(readlink "$proc/ns/net" 2>/dev/null) || continue
            for name in "$own" "${VELMORA_NET_INODES[@]}"; do
                if [ "$ns" = "$name" ] && ! velmora_net_is_holder "$pid"; then
                    kill "$pid" 2>/dev/null
                fi
            done
        done
    fi
    for pid in "${VELMORA_NET_HOLDERS[@]}"; do
        kill "$pid" 2>/dev/null
    done
    VELMORA_NET_INODES=()
    VELMORA_NET_NAMES=()
    VELMORA_NET_HOLDERS=()
    VELMORA_NET_MODE=
}

velmora_net_is_holder() {
    local h
    for h in "${VELMORA_NET_HOLDERS[@]}"; do
        [ "$h" = "$1" ] && return 0
    done
    return 1
}

velmora_net_client() {
    $VELMORA_NS_CLIENT "$@"
}

# For an unprivileged caller: run the calling script again inside a new
# user and network namespace (call before velmora_net_up, with "$0" "$@").
velmora_net_reexec_unprivileged() {
    # The namespace we start in, for the emulator's check that it runs in
    # another one (where process 1's namespace cannot be read).
    [ -n "${VELMORA_HOST_NETNS:-}" ] || export VELMORA_HOST_NETNS="$(readlink /proc/self/ns/net 2>/dev/null)"
    if [ "$(id -u)" != 0 ] && [ -z "${VELMORA_NET_INSIDE_USERNS:-}" ]; then
        command -v unshare >/dev/null 2>&1 || velmora_net_die "not root and 'unshare' is missing: cannot build the private network"
        unshare --user --map-root-user --net true 2>/dev/null ||
            velmora_net_die "not root and unprivileged user namespaces are not available (unshare --user --net failed): run as root to build the private network"
        VELMORA_NET_INSIDE_USERNS=1 exec unshare --user --map-root-user --net -- bash "$@"
    fi
}
