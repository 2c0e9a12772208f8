#!/usr/bin/env bash
# Checks the Debian packages of a plain build (made by the package target):
# lintian finds no error, each package holds exactly what it should (the
# stand-ins never in the main package), and the programs run from a scratch
# root that the packages are unpacked into with dpkg -x: velmora-ctl's help
# and manual page, a settings round trip, velmora-configure finding its own
# program directory. Nothing is installed on the machine.
#
#   scripts/package-test.sh BUILD_DIR
set -uo pipefail

build=${1:?usage: package-test.sh BUILD_DIR}
pkgs=$build/packages
status=0
fail() { echo "package-test: FAILED: $*" >&2; status=1; }
ok() { echo "package-test: ok: $*"; }


shopt -s nullglob
main=($pkgs/velmora-configure_*.deb)
demo=($pkgs/velmora-configure-demo_*.deb)
sim=($pkgs/velmora-target-sim_*.deb)
for v in main demo sim; do
    eval "n=\${#$v[@]}"
    [ "$n" -eq 1 ] || { echo "package-test: expected one $v package in $pkgs" >&2; exit 1; }
done

# lintian: errors fail, warnings are shown.
if command -v lintian >/dev/null 2>&1; then
    out=$(lintian --allow-root "${main[0]}" "${demo[0]}" "${sim[0]}" 2>&1)
    [ -n "$out" ] && echo "$out"
    if echo "$out" | grep -q '^E:'; then fail "lintian reports errors"; else ok "lintian: no errors"; fi
else
    fail "lintian is not installed (scripts/setup-deps.sh)"
fi

contents() { dpkg-deb -c "$1" | awk '{print $6}' | sed 's#^\./#/#; s#/$##' | grep -v '^$' | sort; }
expect_files() { # package files...
    local deb=$1 f
    shift
    local have
    have=$(contents "$deb")
    for f in "$@"; do
        grep -qx "$f" <<<"$have" || fail "$(basename "$deb") lacks $f"
    done
}
expect_not() { # package regex
    if contents "$1" | grep -E "$2"; then fail "$(basename "$1") holds files it must not (above)"; fi
}
prog=/usr/lib/velmora-configure
expect_files "${main[0]}" /usr/bin/velmora-ctl /usr/bin/velmora-configure $prog/velmora-configure \
    $prog/setting_org.inf $prog/preset.inf $prog/label.png $prog/velmora-configure_de.qm \
    /usr/share/man/man1/velmora-ctl.1.gz /usr/share/doc/velmora-configure/copyright \
    /usr/share/doc/velmora-configure/changelog.gz /usr/share/doc/velmora-configure/ctl-json.md \
    /usr/share/velmora-configure/translations/velmora-configure.ts
expect_not "${main[0]}" '\.so$|setting_path|velmora-debugd|driver\.inf|msiexec|velmora-target-sim'
expect_files "${demo[0]}" $prog/libvelmora_asio.so $prog/setting_path $prog/velmora-debugd $prog/driver.inf
expect_not "${demo[0]}" 'bin/|/velmora-configure/velmora-configure$|setting_org|preset\.inf'
expect_files "${sim[0]}" /usr/bin/velmora-target-sim
expect_not "${sim[0]}" "$prog"
dpkg-deb -f "${demo[0]}" Depends | grep -q 'velmora-configure (= ' || fail "the demo package does not depend on the tool's version"
dpkg-deb -f "${main[0]}" Depends | grep -q 'libqt5widgets5' || fail "the main package does not depend on Debian's Qt"
[ $status -eq 0 ] && ok "package contents and dependencies"

root=$(mktemp -d "${TMPDIR:-/tmp}/velmora-pkgroot.XXXXXX") || exit 1
trap 'rm -rf "$root"' EXIT
for deb in "${main[0]}" "${demo[0]}" "${sim[0]}"; do
    dpkg -x "$deb" "$root" || fail "dpkg -x $(basename "$deb")"
done
ctl=$root/usr/bin/velmora-ctl

"$ctl" --help | grep -q '^  settings ' || fail "installed velmora-ctl --help lists no settings command"
zcat "$root/usr/share/man/man1/velmora-ctl.1.gz" | grep -q '^\.SS settings' || fail "the manual page has no settings section"
man -l "$root/usr/share/man/man1/velmora-ctl.1.gz" 2>/dev/null | grep -q 'velmora-ctl settings set' ||
    fail "the manual page does not render the settings help"

work=$root/work
mkdir -p "$work"
f=$work/setting.inf
"$ctl" settings set "$f" Latency 20 || fail "settings set (new file)"
"$ctl" settings set "$f" PCMRequest 24 || fail "settings set"
[ "$("$ctl" settings get --int "$f" Latency)" = 20 ] || fail "settings get after set"
printf '[global]\r\nLatency=20\r\nPCMRequest=24\r\n\r\n' >"$work/expected"
"$ctl" settings show "$f" >"$work/shown" || fail "settings show"
cmp -s "$work/expected" "$work/shown" || { fail "settings show differs:"; od -c "$work/shown" | head; }
"$ctl" settings set "$f" Latency "" || fail "settings set (remove)"
[ -z "$("$ctl" settings get "$f" Latency)" ] || fail "a removed key still reads back"
ok "installed velmora-ctl: help, manual page, settings round trip"

# The tool from the scratch root, started through its link on PATH, looks
# for the driver below its own program directory. Without the demo's
# stand-in there it must say which folder it searched and end (status 2);
# the stand-in itself is not started here, since its target search would
# use the machine's interfaces.
rm "$root$prog/libvelmora_asio.so"
out=$(cd / && QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work timeout 60 "$root/usr/bin/velmora-configure" 2>&1)
rc=$?
[ $rc -eq 2 ] || fail "installed velmora-configure without a driver: status $rc (expected 2): $out"
grep -qF "$root$prog/" <<<"$out" || fail "velmora-configure did not name its program directory: $out"
"$root/usr/bin/velmora-target-sim" --help >/dev/null || fail "installed velmora-target-sim --help"
[ $status -eq 0 ] && ok "installed programs run from the scratch root"

for deb in "${main[0]}" "${demo[0]}" "${sim[0]}"; do
    printf 'package-test: %s %s bytes\n' "$(basename "$deb")" "$(stat -c %s "$deb")"
done
exit $status
