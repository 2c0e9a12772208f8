#!/usr/bin/env bash
# scripts/update-server.sh [OPTIONS]
#
# A real HTTPS update server for the tests and the demo: Debian's nginx
# (nginx-light) with a throwaway CA, HTTP Basic authentication and
# generated demo content. Runs in the foreground until SIGTERM, SIGINT or
# SIGHUP, or until its parent process dies; then stops nginx (by its PID)
# and removes everything it made (the work folder unless --keep). Run it
# inside the private test network (scripts/testnet.sh, scripts/simnet.sh):
# there only lo is up, and the default address is [::1].
#
# Options:
#   --listen ADDR      address to listen on, TLS only (default: from
#                      scripts/lib/update-server.env, [::1]:18443); forms
#                      [IPV6]:PORT, IPV4:PORT, NAME:PORT
#   --dir DIR          work folder (created; must be empty if it exists;
#                      default: a new temporary folder). Removed at the end.
#   --keep             keep the work folder at the end
#   --ca-out FILE      copy the CA certificate (PEM) to FILE, for the
#                      client's extra trusted CA (VELMORA_UPDATE_CA)
#   --user U           HTTP Basic user name (default: from the env file)
#   --password P       HTTP Basic password (default: from the env file)
#   --content DIR      serve DIR as the document root instead of the demo
#                      content (same authentication rules; as root, DIR and
#                      the folders above it must be readable by "nobody")
#   --ctl PATH         velmora-ctl to compute checksums with (default:
#                      velmora-ctl on PATH, else build/bin/velmora-ctl)
#   --fw-size BYTES    size of each generated firmware image (1048576)
#   --access-log FILE  write nginx's access log to FILE, one line per
#                      request: METHOD URI STATUS AUTHORIZATION, where
#                      AUTHORIZATION is the raw header value ("Basic ...",
#                      may hold spaces; "-" when absent) and nginx writes
#                      the bytes " \ and non-printable ones as \xHH
#   -h, --help         this text
#
# Standard output: "ca PATH" (the CA certificate in the work folder), then
# "ready" once nginx answers TLS requests; nothing more. Messages go to
# standard error. Exit status: 0 after a signal or the parent's end, 1 when
# the server cannot start (nginx's error log is shown), 2 bad command line.
#
# Authentication: every path needs the credential except /studio/, which
# stands for a private mirror that a player names by plain https URL (the
# client sends the credential only to the built-in server and the driver's
# update host). Unknown paths give 404, a missing or wrong credential 401.
#
# The demo content (lists in the update list format: name TAB four hex
# digits (CRC-16/USB of the file) TAB file, CR LF line ends; each list
# names files beside it):
#   /living-room/updatelist              2.5.0 fw-2.5.0.bin, 2.4.9 fw-2.4.9.bin
#   /living-room/staging/updatelist      2.6.0-rc1 fw-2.6.0-rc1.bin
#   /living-room/preview/updatelist      2.6.0-beta1 fw-2.6.0-beta1.bin
#   /studio/updatelist                   3.1.0 fw-3.1.0.bin, 3.0.9 fw-3.0.9.bin
#   /studio/staging/updatelist           3.2.0-rc1 fw-3.2.0-rc1.bin
#   /studio/preview/updatelist           3.2.0-beta1 fw-3.2.0-beta1.bin
#                                        (all of /studio/ without authentication)
#   /asio/updatelist                     "Velmora ASIO 1.1.0" velmora-asio-1.1.0.msi,
#                                        "Velmora ASIO 1.0.9" velmora-asio-1.0.9.msi,
#                                        and a hostile entry "Velmora ASIO 1.1.1"
#                                        whose file is ../evil.msi
#   /asio/staging/updatelist             "Velmora ASIO 1.2.0-rc1" velmora-asio-1.2.0-rc1.msi
#                                        and the hostile entry
#   /asio/preview/updatelist             "Velmora ASIO 1.2.0-beta1" velmora-asio-1.2.0-beta1.msi
#                                        and the hostile entry
#   /evil.msi, /asio/evil.msi            the hostile package, served (with the
#                                        list's checksum) where a client that
#                                        follows "../" would fetch it, so a
#                                        client that does not refuse the name
#                                        is caught (its request is in the log)
#   /bad/updatelist                      malformed lines around one good line:
#                                        "good" fw-good.bin (/bad/fw-good.bin)
# Firmware images are --fw-size bytes of deterministic pseudo-random data
# holding "VMVER:<version>" and a zero byte at offset 16: the emulator
# reports that version after the reboot that follows a write. Installer
# packages are 4 KiB of such data starting with "VMMSI:<name>".
#
# Example (inside the private network):
#   scripts/testnet.sh bash -c 'scripts/update-server.sh --ca-out /tmp/ca.pem &
#       sleep 2; curl --cacert /tmp/ca.pem -u velmora-test-usr:tEst-pw-4-Nginx! \
#       "https://[::1]:18443/living-room/updatelist"; kill %1; wait'
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
# shellcheck source=lib/update-server.env
. "$here/lib/update-server.env"

say() { echo "update-server: $*" >&2; }
usage_error() { say "$*"; say "see --help"; exit 2; }

listen=$VELMORA_UPDATE_SERVER
dir=
keep=
ca_out=
user=$VELMORA_UPDATE_USER
password=$VELMORA_UPDATE_PASSWORD
content=
ctl=
fw_size=1048576
access_log=
need_arg() { [ $# -ge 2 ] || usage_error "$1 needs a value"; }
while [ $# -gt 0 ]; do
    case "$1" in
    --listen) need_arg "$@"; listen=$2; shift 2 ;;
    --dir) need_arg "$@"; dir=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --ca-out) need_arg "$@"; ca_out=$2; shift 2 ;;
    --user) need_arg "$@"; user=$2; shift 2 ;;
    --password) need_arg "$@"; password=$2; shift 2 ;;
    --content) need_arg "$@"; content=$2; shift 2 ;;
    --ctl) need_arg "$@"; ctl=$2; shift 2 ;;
    --fw-size) need_arg "$@"; fw_size=$2; shift 2 ;;
    --access-log) need_arg "$@"; access_log=$2; shift 2 ;;
    -h | --help) sed -n '2,/^$/s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) usage_error "unknown option '$1'" ;;
    esac
done

# --- checks of the command line -------------------------------------------
case $fw_size in
'' | *[!0-9]*) usage_error "--fw-size needs a number of bytes, not '$fw_size'" ;;
esac
[ "${#fw_size}" -le 10 ] && [ "$fw_size" -ge 64 ] && [ "$fw_size" -le 268435456 ] ||
    usage_error "--fw-size must be between 64 and 268435456 bytes"
case $user in
'' | *:* | *[[:cntrl:]]*) usage_error "--user must be non-empty, without ':' or control characters" ;;
esac
case $password in
*[[:cntrl:]]*) usage_error "--password must not hold control characters" ;;
esac
# The address: [IPV6]:PORT, IPV4:PORT or NAME:PORT.
case $listen in
\[*\]:*) host=${listen%]:*}; host=${host#[}; port=${listen##*]:} ;;
*:*:*) usage_error "--listen: write an IPv6 address in brackets, e.g. [::1]:18443" ;;
*:*) host=${listen%:*}; port=${listen##*:} ;;
*) usage_error "--listen needs ADDRESS:PORT, e.g. [::1]:18443" ;;
esac
case $port in '' | *[!0-9]*) usage_error "--listen: bad port '$port'" ;; esac
[ "${#port}" -le 5 ] && [ "$port" -ge 1 ] && [ "$port" -le 65535 ] || usage_error "--listen: bad port '$port'"
case $host in
'' | *[!0-9A-Za-z.:%_-]*) usage_error "--listen: bad host '$host'" ;;
esac
if [ -n "$content" ]; then
    [ -d "$content" ] || usage_error "--content: no folder $content"
    content=$(cd "$content" && pwd) || usage_error "--content: cannot enter $content"
fi
for tool in nginx openssl curl; do
    command -v "$tool" >/dev/null 2>&1 ||
        { say "'$tool' is missing: run scripts/setup-deps.sh (packages nginx-light, openssl, curl)"; exit 1; }
done
if [ -z "$content" ]; then
    if [ -z "$ctl" ]; then
        ctl=$(command -v velmora-ctl 2>/dev/null) || ctl=$root/build/bin/velmora-ctl
    fi
    [ -x "$ctl" ] || { say "no velmora-ctl at $ctl (build it, or give --ctl)"; exit 1; }
fi

# --- the work folder and cleanup on every exit path -----------------------
own_dir=
if [ -n "$dir" ]; then
    if [ -e "$dir" ]; then
        [ -d "$dir" ] && [ ! -L "$dir" ] || { say "--dir: $dir is not a folder"; exit 1; }
        [ -z "$(ls -A "$dir")" ] || { say "--dir: $dir is not empty (it is removed at the end)"; exit 1; }
    else
        mkdir -p "$dir" || { say "cannot create $dir"; exit 1; }
    fi
    dir=$(cd "$dir" && pwd)
else
    # With this run's process id: the test network's scripts remove it if
    # this run was killed and its guard (below) could not.
    dir=$(mktemp -d "${TMPDIR:-/tmp}/velmora-update-server.pid$$.XXXXXX") || { say "cannot create a work folder"; exit 1; }
    own_dir=1
    [ -n "$keep" ] && : >"$dir/.keep"
fi
# As root nginx's workers run as "nobody": they must reach the files.
chmod 755 "$dir" || exit 1

nginx_pid=
guard_pid=
sleeper=
cleaned=
cleanup() {
    [ -n "$cleaned" ] && return
    cleaned=1
    trap - EXIT INT TERM HUP
    [ -n "$sleeper" ] && kill "$sleeper" 2>/dev/null
    if [ -n "$nginx_pid" ]; then
        # TERM is nginx's fast shutdown; the master stops its workers.
        kill -TERM "$nginx_pid" 2>/dev/null
        local i
        for i in $(seq 1 50); do
            kill -0 "$nginx_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$nginx_pid" 2>/dev/null
        wait "$nginx_pid" 2>/dev/null
        nginx_pid=
    fi
    if [ -n "$guard_pid" ]; then
        # It removes the work folder, and ends its own sleep.
        kill -TERM "$guard_pid" 2>/dev/null
        wait "$guard_pid" 2>/dev/null
        guard_pid=
    fi
    if [ -n "$keep" ]; then
        say "kept $dir"
    else
        rm -rf "$dir"
    fi
}
trap cleanup EXIT
trap 'cleanup; exit 0' INT TERM HUP

fail() {
    say "$*"
    exit 1
}

# If this script is killed with SIGKILL it cannot clean up: nginx gets
# SIGTERM from the kernel when its parent dies (parent-death signal), and
# the guard below, which dies with the script the same way, removes the
# work folder.
pdeath=()
if command -v setpriv >/dev/null 2>&1 && setpriv --pdeathsig TERM true 2>/dev/null; then
    pdeath=(setpriv --pdeathsig TERM)
    if [ -z "$keep" ]; then
        "${pdeath[@]}" bash -c 'trap "kill \$s; rm -rf \"\$0\"; exit 0" TERM; while :; do sleep 3600 & s=$!; wait $s; done' \
            "$dir" </dev/null >/dev/null 2>&1 &
        guard_pid=$!
    fi
fi

# --- certificates --------------------------------------------------------
pki=$dir/pki
mkdir -p "$pki" || exit 1
san="IP:::1,IP:127.0.0.1,DNS:localhost"
case $host in
::1 | 127.0.0.1 | localhost) ;;
*:* | [0-9]*.[0-9]*.[0-9]*.[0-9]*) san="$san,IP:${host%%%*}" ;;
*) san="$san,DNS:$host" ;;
esac
cat >"$pki/server.ext" <<EOF
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth
subjectAltName=$san
EOF
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 7 \
    -subj "/CN=Velmora test update CA" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$pki/ca.key" -out "$pki/ca.pem" >/dev/null 2>"$pki/openssl.log" &&
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
        -subj "/CN=Velmora test update server" -keyout "$pki/server.key" -out "$pki/server.csr" \
        >/dev/null 2>>"$pki/openssl.log" &&
    openssl x509 -req -in "$pki/server.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -CAcreateserial \
        -days 7 -extfile "$pki/server.ext" -out "$pki/server.pem" >/dev/null 2>>"$pki/openssl.log" ||
    { cat "$pki/openssl.log" >&2; fail "cannot make the certificates"; }
# nginx reads the key as root before the workers start: it can stay private.
chmod 600 "$pki/ca.key" "$pki/server.key"
if [ -n "$ca_out" ]; then
    cp "$pki/ca.pem" "$ca_out" || fail "cannot write the CA certificate to $ca_out"
fi

# --- the credential -----------------------------------------------------
hash=$(printf '%s' "$password" | openssl passwd -apr1 -stdin) || fail "openssl passwd failed"
printf '%s:%s\n' "$user" "$hash" >"$dir/htpasswd" || exit 1
chmod 644 "$dir/htpasswd"

# --- the demo content ---------------------------------------------------
# Deterministic pseudo-random bytes: AES-CTR of zeros, keyed by a text.
random_bytes() { # seed-text count
    local key
    key=$(printf '%s' "$1" | openssl dgst -sha256 -r | cut -c1-32)
    head -c "$2" /dev/zero | openssl enc -aes-128-ctr -K "$key" -iv 00000000000000000000000000000000 -nosalt
}
make_image() { # file marker-text size
    random_bytes "$2" "$3" >"$1" || return 1
    printf '%s\0' "$2" | dd of="$1" bs=1 seek=16 conv=notrunc status=none
}
crc() {
    local c
    c=$("$ctl" crc "$1") || return 1
    case $c in [0-9a-f][0-9a-f][0-9a-f][0-9a-f]) printf '%s' "$c" ;; *) return 1 ;; esac
}
# list-line name file: one line of the list beside the file.
list_line() {
    local c
    c=$(crc "$2") || fail "velmora-ctl crc $2 failed"
    printf '%s\t%s\t%s\r\n' "$1" "$c" "${2##*/}"
}
firmware_list() { # folder version...
    local folder=$1 v
    shift
    mkdir -p "$folder" || exit 1
    : >"$folder/updatelist"
    for v in "$@"; do
        make_image "$folder/fw-$v.bin" "VMVER:$v" "$fw_size" || fail "cannot write $folder/fw-$v.bin"
        list_line "$v" "$folder/fw-$v.bin" >>"$folder/updatelist"
    done
}
driver_list() { # folder version...
    local folder=$1 v evil_crc
    shift
    mkdir -p "$folder" || exit 1
    : >"$folder/updatelist"
    for v in "$@"; do
        make_image "$folder/velmora-asio-$v.msi" "VMMSI:Velmora ASIO $v" 4096 || fail "cannot write the package $v"
        list_line "Velmora ASIO $v" "$folder/velmora-asio-$v.msi" >>"$folder/updatelist"
    done
    evil_crc=$(crc "$www/evil.msi") || fail "velmora-ctl crc failed"
    printf '%s\t%s\t%s\r\n' "Velmora ASIO 1.1.1" "$evil_crc" "../evil.msi" >>"$folder/updatelist"
}

if [ -n "$content" ]; then
    www=$content
else
    www=$dir/www
    mkdir -p "$www" || exit 1
    firmware_list "$www/living-room" 2.5.0 2.4.9
    firmware_list "$www/living-room/staging" 2.6.0-rc1
    firmware_list "$www/living-room/preview" 2.6.0-beta1
    firmware_list "$www/studio" 3.1.0 3.0.9
    firmware_list "$www/studio/staging" 3.2.0-rc1
    firmware_list "$www/studio/preview" 3.2.0-beta1
    # The hostile package lies where "../evil.msi" leads from /asio/ and
    # from /asio/staging/ or /asio/preview/.
    make_image "$www/evil.msi" "VMMSI:hostile package: a client must never fetch or start this" 4096 ||
        fail "cannot write evil.msi"
    mkdir -p "$www/asio" && cp "$www/evil.msi" "$www/asio/evil.msi" || exit 1
    driver_list "$www/asio" 1.1.0 1.0.9
    driver_list "$www/asio/staging" 1.2.0-rc1
    driver_list "$www/asio/preview" 1.2.0-beta1
    mkdir -p "$www/bad" || exit 1
    make_image "$www/bad/fw-good.bin" "VMVER:good" 4096 || exit 1
    good_crc=$(crc "$www/bad/fw-good.bin") || fail "velmora-ctl crc failed"
    {
        printf 'no tab at all\r\n'
        printf 'one tab only\tabcd\r\n'
        printf 'first tab last\t\r\n'
        printf 'three digits\tabc\tx.bin\r\n'
        printf 'five digits\tabcde\tx.bin\r\n'
        printf 'not hex\tabcg\tx.bin\r\n'
        printf 'signed\t-abc\tx.bin\r\n'
        printf 'three tabs\tabcd\tx.bin\textra\r\n'
        printf '\r\n\r\n'
        printf 'good\t%s\tfw-good.bin\r\n' "$good_crc"
        printf 'space in checksum\t ab1\tx.bin\r\n'
        printf 'last line\tzzzz\tx.bin'
    } >"$www/bad/updatelist"
    chmod -R a+rX "$www"
fi

# --- nginx --------------------------------------------------------------
for d in client_body proxy fastcgi uwsgi scgi; do
    mkdir -p "$dir/temp/$d" || exit 1
done
access_line="access_log off;"
if [ -n "$access_log" ]; then
    : >"$access_log" || fail "cannot write the access log $access_log"
    case $access_log in /*) ;; *) access_log=$PWD/$access_log ;; esac
    access_line="access_log $access_log velmora;"
fi
user_line=
if [ "$(id -u)" = 0 ] && [ "$(awk 'NR == 1 { print $3 }' /proc/self/uid_map 2>/dev/null)" != 4294967295 ]; then
    # Root of a user namespace (an unprivileged test network): "nobody" is
    # not mapped there, so the workers keep the caller's identity.
    user_line="user root root;"
fi
cat >"$dir/nginx.conf" <<EOF
# Made by scripts/update-server.sh; removed with its work folder.
daemon off;
master_process on;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log info;
$user_line
events { worker_connections 128; }
http {
    client_body_temp_path $dir/temp/client_body;
    proxy_temp_path $dir/temp/proxy;
    fastcgi_temp_path $dir/temp/fastcgi;
    uwsgi_temp_path $dir/temp/uwsgi;
    scgi_temp_path $dir/temp/scgi;
    log_format velmora '\$request_method \$request_uri \$status \$http_authorization';
    $access_line
    default_type application/octet-stream;
    sendfile on;
    server_tokens off;
    server {
        listen $listen ssl;
        ssl_certificate $pki/server.pem;
        ssl_certificate_key $pki/server.key;
        root $www;
        autoindex off;
        location / {
            auth_basic "Velmora updates";
            auth_basic_user_file $dir/htpasswd;
        }
        # A private mirror named by plain URL: no credential.
        location /studio/ {
            auth_basic off;
        }
        # The script's own readiness probe, kept out of the access log.
        location = /.velmora-ready {
            auth_basic off;
            access_log off;
            return 204;
        }
    }
}
EOF

"${pdeath[@]}" nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" </dev/null >/dev/null 2>>"$dir/error.log" &
nginx_pid=$!
# The script's own output first, the CA path once it exists.
echo "ca $pki/ca.pem"

# Ready when a TLS request through the CA is answered.
url_host=$host
case $host in *:*) url_host="[$host]" ;; esac
ready=
deadline=$((SECONDS + 10))
while [ $SECONDS -lt $deadline ]; do
    kill -0 "$nginx_pid" 2>/dev/null || break
    code=$(curl -s -o /dev/null -w '%{http_code}' --max-time 2 --cacert "$pki/ca.pem" \
        "https://$url_host:$port/.velmora-ready" 2>/dev/null) || code=
    [ "$code" = 204 ] && { ready=1; break; }
    sleep 0.1
done
if [ -z "$ready" ]; then
    say "nginx did not answer on https://$url_host:$port/ within 10 s; its error log:"
    cat "$dir/error.log" >&2
    exit 1
fi
echo ready

# --- run until a signal, the parent's end or nginx's end -----------------
parent=$PPID
own_ppid() { awk '/^PPid:/ { print $2 }' /proc/$$/status 2>/dev/null; }
while :; do
    if ! kill -0 "$nginx_pid" 2>/dev/null; then
        wait "$nginx_pid" 2>/dev/null
        nginx_pid=
        say "nginx ended unexpectedly; its error log:"
        tail -n 20 "$dir/error.log" >&2
        exit 1
    fi
    if [ "$(own_ppid)" != "$parent" ]; then
        say "the parent process ended; stopping"
        exit 0
    fi
    # Backgrounded sleep and wait: a signal's trap runs at once.
    sleep 0.5 &
    sleeper=$!
    wait "$sleeper" 2>/dev/null
    sleeper=
done
