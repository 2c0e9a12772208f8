#!/usr/bin/env bash
# wine-run.sh PROGRAM.exe [ARGS...]
#
# CTest's emulator for the Windows build: runs the program under Wine with
# its standard output and error passed through and its exit status kept.
#
# Wine now and then fails to start a program at all: it ends at once with
# a non-zero status before the program printed a single byte (every test
# program prints GoogleTest's header first, and the listing run prints the
# list). Only that case is started again, at most twice, and each time is
# noted on standard error and in VELMORA_WINE_RETRY_LOG (when set), so the
# run can say how often it happened. A program that printed anything keeps
# its status, whatever it is.
set -u

if [ $# -lt 1 ]; then
    echo "usage: wine-run.sh PROGRAM.exe [ARGS...]" >&2
    exit 2
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/velmora-wine-run.XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT

status=0
for attempt in 1 2 3; do
    wine "$@" >"$tmp/out" 2>"$tmp/err" </dev/null
    status=$?
    if [ "$status" -eq 0 ] || [ -s "$tmp/out" ] || [ -s "$tmp/err" ] || [ "$attempt" -eq 3 ]; then
        break
    fi
    note="wine-run: $(basename "$1") ended with status $status before printing anything (attempt $attempt); starting it again"
    echo "$note" >&2
    if [ -n "${VELMORA_WINE_RETRY_LOG:-}" ]; then
        echo "$note: $*" >>"$VELMORA_WINE_RETRY_LOG"
    fi
done
cat "$tmp/out"
cat "$tmp/err" >&2
if [ "$status" -ne 0 ] && [ ! -s "$tmp/out" ] && [ ! -s "$tmp/err" ]; then
    echo "wine-run: $(basename "$1") ended with status $status and printed nothing, three times" >&2
fi
exit "$status"
