#!/usr/bin/env bash
# Installs the Debian 12 packages that building, the demo and the tests need.
# As root it runs apt-get (once, non-interactive); as another user it prints
# the apt-get line to run and exits with status 1. When everything is there
# already it does nothing, so it is cheap to call before every build.
#
#   scripts/setup-deps.sh          install what is missing
#   scripts/setup-deps.sh --list   print the package list and exit
set -euo pipefail

packages=(
  # compilers and build tools
  build-essential cmake ninja-build ccache
  # fuzz targets and sanitizer builds with clang (libFuzzer's runtime)
  clang libclang-rt-14-dev
  # tests
  googletest libgtest-dev libgmock-dev
  # velmora-ctl's --json output (header-only, so the Windows build uses it too)
  nlohmann-json3-dev
  # the windows (Qt 5.15 Widgets/Network/Test, designer forms, translations)
  qtbase5-dev qttools5-dev-tools qttools5-dev
  # the demo and screenshots on a virtual display
  xvfb xauth xdotool imagemagick fonts-dejavu-core
  # the private test network (ip netns, veth pairs)
  iproute2
  # the HTTPS update server of the tests and the demo (scripts/update-server.sh)
  nginx-light openssl curl
  # the Windows build of the core and its tests under Wine
  g++-mingw-w64-x86-64-posix wine wine64
  # packages: dependencies read from the programs, the Debian checker, the
  # manual page check
  dpkg-dev lintian man-db
)

if [ "${1:-}" = "--list" ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)
  case $status in
    ii*) ;;
    *) missing+=("$p") ;;
  esac
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup-deps: all ${#packages[@]} packages are installed"
  exit 0
fi

line="apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "setup-deps: missing packages: ${missing[*]}" >&2
  echo "setup-deps: run as root:" >&2
  echo "  sudo sh -c '$line'" >&2
  exit 1
fi

echo "setup-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update </dev/null
apt-get install -y "${missing[@]}" </dev/null
echo "setup-deps: done"
