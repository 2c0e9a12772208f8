#!/usr/bin/env bash
# Builds the Qt-free core and its tests for 64-bit Windows (mingw-w64) and
# runs the tests under Wine through CTest.
#
#   scripts/windows-tests.sh [BUILD_DIR]        (default: build-win)
#
# Wine gets a prefix of its own inside the build folder, is started fully
# detached before CTest runs (its background services would otherwise hold
# CTest's pipes open and hang it) and is stopped again on every exit path.
# Tests that need the private test network (label netns) are Linux-only.
# Extra arguments for ctest can be given in VELMORA_CTEST_ARGS. The build is
# optimised lightly (-O1, no debug information) to keep the check quick;
# VELMORA_WIN_BUILD_TYPE=Release builds it as shipped.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-win}
case $build in /*) ;; *) build=$PWD/$build ;; esac
jobs=${VELMORA_JOBS:-2}

for tool in x86_64-w64-mingw32-g++-posix wine wineserver cmake ctest; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "windows-tests: '$tool' not found; run scripts/setup-deps.sh first" >&2
    exit 1
  fi
done

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

mkdir -p "$build"
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEARCH=win64
# No Mono/Gecko installer prompts when the prefix is created, and no window.
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

stop_wine() {
  # Only the wineserver of this build's own prefix.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}
trap stop_wine EXIT
trap 'exit 130' INT TERM

echo "== windows: configure ($build)"
if ! cmake -S "$root" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
      -DCMAKE_BUILD_TYPE=${VELMORA_WIN_BUILD_TYPE:-Debug} -DCMAKE_CXX_FLAGS_DEBUG="-O1" -DCMAKE_C_FLAGS_DEBUG="-O1" \
      -DVELMORA_CORE_ONLY=ON -DVELMORA_TESTS=ON \
      "${launcher[@]}" >"$build/configure.log" 2>&1; then
  cat "$build/configure.log" >&2
  echo "windows-tests: configure failed" >&2
  exit 1
fi

echo "== windows: build"
status=0
if ! cmake --build "$build" -j"$jobs" -- -k 0; then
  echo "windows-tests: build failed (tests that were built still run)" >&2
  status=1
fi

echo "== windows: start Wine (prefix $WINEPREFIX)"
# A persistent wineserver, started before anything else, so that no Wine
# process started by ctest spawns one that inherits ctest's pipes. A new
# prefix takes a few seconds to set up; keep everything detached.
mkdir -p "$WINEPREFIX"
if ! wineserver -p </dev/null >/dev/null 2>&1; then
  echo "windows-tests: could not start a wineserver for $WINEPREFIX" >&2
  exit 1
fi
if ! timeout 300 wine cmd /c exit </dev/null >/dev/null 2>&1; then
  echo "windows-tests: Wine did not start in prefix $WINEPREFIX" >&2
  exit 1
fi

echo "== windows: ctest"
# Programs Wine failed to start at all are started again by the emulator
# wrapper (scripts/lib/wine-run.sh), which notes each time here.
export VELMORA_WINE_RETRY_LOG=$build/wine-retries.log
rm -f "$VELMORA_WINE_RETRY_LOG"
# shellcheck disable=SC2086
ctest --test-dir "$build" --output-on-failure -LE netns -j"$jobs" \
      --timeout 300 ${VELMORA_CTEST_ARGS:-} </dev/null 2>&1 | tee "$build/ctest.log"
rc=${PIPESTATUS[0]}
if [ "$rc" -ne 0 ]; then
  status=1
fi
if [ -s "$VELMORA_WINE_RETRY_LOG" ]; then
  echo "windows: Wine failed to start a test program $(wc -l <"$VELMORA_WINE_RETRY_LOG") time(s); each was started again:"
  cat "$VELMORA_WINE_RETRY_LOG"
fi
# ctest with nothing to run exits 0 with "No tests were found": that is
# a failure of this check, not a pass.
if grep -q "No tests were found" "$build/ctest.log"; then
  echo "windows-tests: no tests were found in $build" >&2
  status=1
fi

# The ZIP of velmora-ctl.exe (with the README, the licence, the changelog,
# the --json schema and the third-party notices), checked for its contents.
echo "== windows: package"
if cmake --build "$build" --target package >"$build/package.log" 2>&1; then
  zip=$(ls "$build"/packages/velmora-ctl-*-win64.zip 2>/dev/null | head -1)
  if [ -z "$zip" ]; then
    echo "windows-tests: the package target made no ZIP" >&2
    status=1
  else
    listing=$(unzip -Z1 "$zip" 2>/dev/null || python3 -m zipfile -l "$zip")
    for f in velmora-ctl.exe README.md LICENSE CHANGELOG.md ctl-json.md THIRD-PARTY-NOTICES.txt; do
      grep -q "/$f\$\|^$f\$\|/$f \|^$f " <<<"$listing" || { echo "windows-tests: $zip lacks $f" >&2; status=1; }
    done
    echo "windows: $(basename "$zip") $(stat -c %s "$zip") bytes"
  fi
else
  cat "$build/package.log" >&2
  echo "windows-tests: the package target failed" >&2
  status=1
fi
exit $status
