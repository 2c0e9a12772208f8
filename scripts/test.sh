#!/usr/bin/env bash
# Builds everything and runs every test. This is the check CI runs.
#
#   1. installs missing Debian packages (scripts/setup-deps.sh)
#   2. builds all targets with AddressSanitizer + UndefinedBehaviorSanitizer
#      and runs all tests through CTest; tests that need the private test
#      network run inside their own network namespaces (scripts/testnet.sh:
#      ip netns as root, otherwise an unprivileged user namespace)
#   3. builds the fuzz targets with clang/libFuzzer and runs each one for a
#      short fixed time on its seed corpus (fuzz/corpus/<target>/)
#   4. cross-builds the Qt-free core for 64-bit Windows and runs its tests
#      under Wine (scripts/windows-tests.sh), then packs velmora-ctl.exe
#      into its ZIP; then runs velmora-ctl.exe under Wine against the
#      emulator in the private test network (scripts/windows-net-tests.sh)
#   5. a plain Release build (no sanitizers, no tests; ccache makes it cheap
#      after the first run) makes the Debian packages, which
#      scripts/package-test.sh checks with lintian and runs from a scratch
#      root
#
# Any build error, failed test, crash or sanitizer report makes the exit
# status non-zero. Every stage runs even when an earlier one failed, so one
# run shows everything that is wrong.
#
# Environment:
#   VELMORA_BUILD_PREFIX  prefix of the build folders (default: build-, giving
#                         build-test, build-fuzz, build-win, build-pkg in the
#                         source tree)
#   VELMORA_JOBS          parallel jobs (default 2)
#   VELMORA_FUZZ_SECONDS  time per fuzz target (default 20)
#   VELMORA_SKIP          stages to skip, e.g. "fuzz windows packages"
#                         (default none)
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
prefix=${VELMORA_BUILD_PREFIX:-build-}
case $prefix in /*) ;; *) prefix=$root/$prefix ;; esac
jobs=${VELMORA_JOBS:-2}
fuzz_seconds=${VELMORA_FUZZ_SECONDS:-20}
skip=" ${VELMORA_SKIP:-} "

build_test=${prefix}test
build_fuzz=${prefix}fuzz
build_win=${prefix}win
build_pkg=${prefix}pkg

start_all=$(date +%s)
failures=()
summary=()

note() { printf '\n===== %s\n' "$*"; }
fail() { failures+=("$1"); echo "FAILED: $1" >&2; }
elapsed() { echo "$(( $(date +%s) - $1 ))s"; }

# ---------------------------------------------------------------- packages
note "dependencies"
if ! "$root/scripts/setup-deps.sh"; then
  echo "test.sh: the packages above are needed; stopping" >&2
  exit 1
fi

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  [ -n "${HOME:-}" ] || export CCACHE_DIR=$root/build-ccache
  # Hits across clones in other folders too (CI builds a fresh clone).
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
  export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}
fi

# Sanitizers: any report fails the test that triggered it. The tests get
# these from the build too (velmora_test); set here for everything else the
# run starts (test discovery, scripts).
# A report exits with 86, a status none of our programs uses.
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=86
export ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0:exitcode=86
export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp:print_suppressions=0:exitcode=86
# Qt wants a private runtime folder.
export XDG_RUNTIME_DIR=$build_test-xdg
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# Never a real display: window tests use the offscreen platform.
unset DISPLAY WAYLAND_DISPLAY

# ------------------------------------------- sanitizer build and all tests
if [[ $skip != *" sanitize "* ]]; then
  note "sanitizer build ($build_test)"
  t0=$(date +%s)
  if cmake -S "$root" -B "$build_test" -G Ninja \
        -DVELMORA_SANITIZE=ON -DVELMORA_TESTS=ON -DVELMORA_BENCH=ON \
        -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS_DEBUG="-O1 -g1" -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
        "${launcher[@]}" >"$build_test.configure.log" 2>&1; then
    if ! cmake --build "$build_test" -j"$jobs" -- -k 0; then
      fail "sanitizer build (tests that were built still run)"
    fi
    note "tests (ctest, sanitizer build)"
    ctest --test-dir "$build_test" --output-on-failure -j"$jobs" </dev/null 2>&1 \
      | tee "$build_test.ctest.log"
    [ "${PIPESTATUS[0]}" -eq 0 ] || fail "tests (sanitizer build)"
    if grep -q "No tests were found" "$build_test.ctest.log"; then
      fail "tests (sanitizer build): no tests were found"
    fi
    summary+=("tests:    $(grep -E 'tests passed|tests failed' "$build_test.ctest.log" | tail -1)")
  else
    cat "$build_test.configure.log" >&2
    fail "sanitizer build: configure"
  fi
  echo "sanitizer build and tests: $(elapsed "$t0")"
fi

# ------------------------------------------------------------- fuzz targets
if [[ $skip != *" fuzz "* ]]; then
  note "fuzz targets ($build_fuzz, ${fuzz_seconds}s each)"
  t0=$(date +%s)
  # Coverage instrumentation for the libraries under test too, not only for
  # the fuzz targets' own files.
  if cmake -S "$root" -B "$build_fuzz" -G Ninja \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
        -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS_DEBUG="-O1 -g1" -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
        -DVELMORA_FUZZ=ON -DVELMORA_SANITIZE=ON -DVELMORA_CORE_ONLY=ON -DVELMORA_TESTS=OFF \
        "${launcher[@]}" >"$build_fuzz.configure.log" 2>&1; then
    # Every program named fuzz_* in the build is a fuzz target; build only
    # those (and what they link).
    mapfile -t targets < <(ninja -C "$build_fuzz" -t targets all 2>/dev/null \
                             | sed -nE 's#^([^:]*/)?(fuzz_[A-Za-z0-9_]+)(\.exe)?: (C|CXX)_EXECUTABLE_LINKER.*#\1\2\3#p' \
                             | sort -u)
    if [ ${#targets[@]} -eq 0 ]; then
      fail "fuzz: the build has no fuzz targets"
    elif ! cmake --build "$build_fuzz" -j"$jobs" --target "${targets[@]##*/}" -- -k 0; then
      fail "fuzz build"
    fi
    fuzz_ok=0
    for out in "${targets[@]}"; do
      bin=$build_fuzz/$out
      name=$(basename "$out")
      if [ ! -x "$bin" ]; then
        fail "fuzz: $name was not built"
        continue
      fi
      work=$build_fuzz/run/$name
      # New inputs are kept in the build folder from run to run (the seeds
      # in the tree stay as they are); logs and findings are per run.
      rm -rf "$work/artifacts" && mkdir -p "$work/corpus" "$work/artifacts"
      corpus=("$work/corpus")
      seeds=$root/fuzz/corpus/$name
      [ -d "$seeds" ] && corpus+=("$seeds") || echo "fuzz: $name has no seed corpus ($seeds)"
      echo "fuzz: $name"
      dict=()
      [ -f "$root/fuzz/dict/$name.dict" ] && dict=(-dict="$root/fuzz/dict/$name.dict")
      # The fuzz runs' own sanitizer options: the full malloc stacks that the
      # test run asks for (fast_unwind_on_malloc=0) cost the fuzzers most of
      # their speed; a finding is re-run from its artifact for the details.
      if ASAN_OPTIONS=detect_leaks=1:malloc_context_size=2:fast_unwind_on_malloc=1 \
         "$bin" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 "${dict[@]}" \
           -print_final_stats=1 -artifact_prefix="$work/artifacts/" "${corpus[@]}" \
           </dev/null >"$work/log" 2>&1; then
        fuzz_ok=$((fuzz_ok + 1))
        grep -E '^stat::number_of_executed_units|^Done ' "$work/log" | sed 's/^/  /'
      else
        tail -60 "$work/log"
        ls -l "$work/artifacts"
        fail "fuzz: $name (log: $work/log)"
      fi
    done
    summary+=("fuzz:     $fuzz_ok of ${#targets[@]} fuzz targets ran ${fuzz_seconds}s without a finding")
  else
    cat "$build_fuzz.configure.log" >&2
    fail "fuzz build: configure"
  fi
  echo "fuzz: $(elapsed "$t0")"
fi

# ---------------------------------------------------- Windows build (Wine)
if [[ $skip != *" windows "* ]]; then
  note "Windows build of the core, tests under Wine ($build_win)"
  t0=$(date +%s)
  VELMORA_JOBS=$jobs "$root/scripts/windows-tests.sh" "$build_win" || fail "Windows build/tests"
  if [ -f "$build_win/ctest.log" ]; then
    summary+=("windows:  $(grep -E 'tests passed|tests failed' "$build_win/ctest.log" | tail -1)")
  fi
  # The Windows velmora-ctl.exe against the emulator (from the sanitizer
  # build) in the private test network.
  note "Windows build under Wine in the private test network"
  if [ -x "$build_test/bin/velmora-target-sim" ] && [ -x "$build_test/bin/velmora-ctl" ]; then
    if "$root/scripts/windows-net-tests.sh" "$build_win" "$build_test/bin" 2>&1 | tee "$build_win/net.log"; then
      summary+=("wine-net: $(grep -c '^windows-net: ok' "$build_win/net.log") checks of velmora-ctl.exe in the private network passed")
    else
      fail "Windows build in the private network (log: $build_win/net.log)"
    fi
  else
    fail "Windows build in the private network: the sanitizer build's emulator and velmora-ctl are missing"
  fi
  echo "windows: $(elapsed "$t0")"
fi

# ------------------------------------------------- packages (plain build)
if [[ $skip != *" packages "* ]]; then
  note "packages: plain Release build ($build_pkg), lintian, installation into a scratch root"
  t0=$(date +%s)
  if cmake -S "$root" -B "$build_pkg" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF \
        "${launcher[@]}" >"$build_pkg.configure.log" 2>&1; then
    # The sanitizer options above are for the sanitizer build only.
    if env -u ASAN_OPTIONS -u UBSAN_OPTIONS -u LSAN_OPTIONS cmake --build "$build_pkg" -j"$jobs" &&
       cmake --build "$build_pkg" --target package >"$build_pkg.package.log" 2>&1; then
      if "$root/scripts/package-test.sh" "$build_pkg"; then
        summary+=("packages: $(cd "$build_pkg/packages" && ls *.deb | tr '\n' ' ')checked")
      else
        fail "packages: package-test.sh"
      fi
    else
      tail -40 "$build_pkg.package.log" 2>/dev/null
      fail "packages: build or package target"
    fi
  else
    cat "$build_pkg.configure.log" >&2
    fail "packages: configure"
  fi
  echo "packages: $(elapsed "$t0")"
fi

# ------------------------------------------------------------------ summary
note "summary ($(elapsed "$start_all"))"
for s in "${summary[@]}"; do echo "$s"; done
if [ ${#failures[@]} -ne 0 ]; then
  echo "FAILED:"
  for f in "${failures[@]}"; do echo "  - $f"; done
  exit 1
fi
echo "all checks passed"
