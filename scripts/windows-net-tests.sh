#!/usr/bin/env bash
# Runs the Windows build of velmora-ctl under Wine against the target
# emulator inside the private test network, and compares it with the Linux
# build where both must agree.
#
#   scripts/windows-net-tests.sh WIN_BUILD LINUX_BIN
#
# WIN_BUILD  the Windows build folder (scripts/windows-tests.sh), with
#            bin/velmora-ctl.exe
# LINUX_BIN  a Linux program folder with velmora-target-sim and velmora-ctl
#            (the sanitizer build's bin/ in scripts/test.sh)
#
# Checked: `interfaces` lists the client's two link-local interfaces with
# the same addresses as the Linux build; `discover` lists exactly what the
# Linux build lists, and `discover --json` prints the same document;
# `version` reads the emulator's version; a request to a port nobody serves
# ends as a time-out; `flash` of a small image stores the image on the
# emulator and reads the new version back.
#
# Wine creates its sockets in its wineserver, so the server must run inside
# the client namespace: this script gives the run a prefix of its own
# (WIN_BUILD/wineprefix-net) and starts and stops its wineserver there.
# The emulators' output is checked for sanitizer reports.
# Exit status: 0 when every check passed, 1 otherwise, 2 on bad arguments.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [ "${1:-}" = "--inside" ]; then
  # Second stage: inside the client namespace of scripts/simnet.sh.
  shift
  win=$1 linux=$2 work=$3
  exe=$win/bin/velmora-ctl.exe
  export WINEPREFIX=$win/wineprefix-net WINEDEBUG=-all WINEARCH=win64
  export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
  status=0
  failed() { echo "windows-net: FAILED: $*" >&2; status=1; }
  passed() { echo "windows-net: ok: $*"; }

  # A wineserver left from an earlier run of this prefix would still be in
  # that run's (removed) namespace.
  wineserver -k >/dev/null 2>&1
  mkdir -p "$WINEPREFIX"
  wineserver -f -p </dev/null >/dev/null 2>&1 &
  server=$!
  stop_wine() {
    wineserver -k >/dev/null 2>&1
    timeout 20 wineserver -w >/dev/null 2>&1
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
  }
  trap stop_wine EXIT
  if ! timeout 300 wine cmd /c exit </dev/null >/dev/null 2>&1; then
    echo "windows-net: Wine did not start in prefix $WINEPREFIX" >&2
    exit 1
  fi
  # Every run of the Windows program is bounded; its standard error is kept.
  wctl() { timeout 120 wine "$exe" "$@" 2>"$work/wine.err" </dev/null; }
  lctl() { timeout 120 "$linux/velmora-ctl" "$@" </dev/null; }

  # interfaces: the same addresses and names as the Linux build (the third
  # column is the adapter's description, which differs by platform).
  w=$(wctl interfaces | tr -d '\r' | cut -f1,2 | sort)
  l=$(lctl interfaces | cut -f1,2 | sort)
  want=$(printf '%s%%%s\t%s\n%s%%%s\t%s\n' \
    "$VELMORA_C1_ADDR" "$VELMORA_C1_INDEX" "$VELMORA_C1_IF" "$VELMORA_C2_ADDR" "$VELMORA_C2_INDEX" "$VELMORA_C2_IF" | sort)
  if [ "$w" = "$want" ] && [ "$l" = "$want" ]; then
    passed "interfaces"
  else
    failed "interfaces: Windows build:"$'\n'"$w"$'\n'"Linux build:"$'\n'"$l"$'\n'"expected:"$'\n'"$want"
    cat "$work/wine.err" >&2
  fi

  # discover: exactly the Linux build's list, and that list is the one the
  # emulators were started with.
  w=$(wctl discover | tr -d '\r')
  l=$(lctl discover)
  want=$(printf '%s%%%s,19650\t0000000000000005\tVelmora Out-A\n%s%%%s,19651\t0000000000000005\tVelmora Out-B\n%s%%%s,19652\t0000000000000007\tVelmora Solo' \
    "$VELMORA_T1_ADDR" "$VELMORA_C1_INDEX" "$VELMORA_T1_ADDR" "$VELMORA_C1_INDEX" "$VELMORA_T2_ADDR" "$VELMORA_C2_INDEX")
  if [ "$w" = "$want" ] && [ "$l" = "$want" ]; then
    passed "discover"
  else
    failed "discover: Windows build:"$'\n'"$w"$'\n'"Linux build:"$'\n'"$l"$'\n'"expected:"$'\n'"$want"
    cat "$work/wine.err" >&2
  fi

  # discover --json: the Linux build's document byte for byte (standard
  # output is binary on Windows: no CR), and it names the targets.
  w=$(wctl discover --json)
  l=$(lctl discover --json)
  if [ "$w" = "$l" ] && [[ $l == *'"name": "Velmora Out-A"'* ]] && [[ $l == *'"name": "Velmora Solo"'* ]]; then
    passed "discover --json"
  else
    failed "discover --json: Windows build:"$'\n'"$w"$'\n'"Linux build:"$'\n'"$l"
    cat "$work/wine.err" >&2
  fi

  ep1="$VELMORA_T1_ADDR%$VELMORA_C1_IF,19650"
  w=$(wctl version "$ep1" | tr -d '\r')
  if [ "$w" = "2.4.1" ]; then passed "version"; else failed "version: '$w'"; cat "$work/wine.err" >&2; fi

  # Nobody serves this port: on Windows the send may come back as a
  # receive error (port unreachable), which must end as a time-out.
  w=$(wctl version "$VELMORA_T1_ADDR%$VELMORA_C1_IF,19659" | tr -d '\r'); rc=$?
  err=$(tr -d '\r' <"$work/wine.err")
  if [ "$rc" -eq 1 ] && [ -z "$w" ] && [[ $err == *"no answer within 100 ms"* ]]; then
    passed "closed port ends as a time-out"
  else
    failed "closed port: exit $rc, output '$w', error '$err'"
  fi

  # flash: a small image with several blocks and a version marker.
  image=$work/fw.bin
  { printf 'VMVER:3.0.1-win\n'; head -c 20000 /dev/urandom; } >"$image"
  ep2="$VELMORA_T1_ADDR%$VELMORA_C1_IF,19651"
  out=$(timeout 300 wine "$exe" flash "$ep2" "$(winepath -w "$image" 2>/dev/null || echo "Z:$image")" \
          --pause-ms 50 --burst 0 2>"$work/wine.err" </dev/null | tr -d '\r'); rc=$?
  if [ "$rc" -eq 0 ] && cmp -s "$image" "$work/stored.bin" && [[ $out == *"Ready : 3.0.1-win"* ]]; then
    passed "flash (image stored, new version read back)"
  else
    failed "flash: exit $rc; output:"$'\n'"$out"
    cmp "$image" "$work/stored.bin" >&2
    cat "$work/wine.err" >&2
  fi
  exit $status
fi

if [ $# -ne 2 ]; then
  echo "usage: scripts/windows-net-tests.sh WIN_BUILD LINUX_BIN" >&2
  exit 2
fi
win=$(cd "$1" && pwd) || exit 2
linux=$(cd "$2" && pwd) || exit 2
for f in "$win/bin/velmora-ctl.exe" "$linux/velmora-target-sim" "$linux/velmora-ctl"; do
  if [ ! -e "$f" ]; then
    echo "windows-net: $f is missing (build it first)" >&2
    exit 1
  fi
done
for tool in wine wineserver; do
  command -v "$tool" >/dev/null 2>&1 || { echo "windows-net: '$tool' not found; run scripts/setup-deps.sh" >&2; exit 1; }
done

work=$win/net-run
rm -rf "$work" && mkdir -p "$work"
# The default targets of simnet.sh; Out-B stores what it is sent and comes
# back quickly after its reboot.
t1='--target "Velmora Out-A" --id 5 --port 19650 --version 2.4.1'
t1+=' --target "Velmora Out-B" --id 5 --port 19651 --version 2.4.1'
t1+=" --image=$work/stored.bin --write-ms=300 --reboot-silence 500"
t2='--target "Velmora Unset" --id all-ones --port 19650 --target "Velmora Solo" --id 7 --port 19652 --version 1.9.0'
"$here/simnet.sh" --bin "$linux" --log "$work" --t1 "$t1" --t2 "$t2" \
  "$here/windows-net-tests.sh" --inside "$win" "$linux" "$work"
status=$?
if grep -lE 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$work"/sim-t*.log 2>/dev/null; then
  echo "windows-net: FAILED: sanitizer report in the emulators' output (above)" >&2
  status=1
fi
exit $status
