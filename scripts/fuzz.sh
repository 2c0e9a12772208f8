#!/usr/bin/env bash
# scripts/fuzz.sh [SECONDS]
#
# A longer fuzz run by hand: builds the fuzz targets as scripts/test.sh does
# and runs each one for SECONDS (default 600) on its seeds, its dictionary
# (fuzz/dict/) and the inputs earlier runs kept (build-fuzz/run/NAME/corpus).
# Findings land in build-fuzz/run/NAME/artifacts; the exit status is
# non-zero when any target found something.
set -euo pipefail
seconds=${1:-600}
case $seconds in ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2 ;; esac
here=$(cd "$(dirname "$0")" && pwd)
VELMORA_SKIP="sanitize windows ${VELMORA_SKIP:-}" VELMORA_FUZZ_SECONDS=$seconds exec "$here/test.sh"
