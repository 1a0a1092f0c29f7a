#!/usr/bin/env bash
# Usage: scripts/setup.sh [demo]
# Installs what building, testing and packaging need on a Debian 12 machine;
# with "demo", only what building the hook needs (scripts/demo.sh). Runs
# apt-get only when a package is missing, so a second run costs nothing.
set -euo pipefail

# The hook: a compiler, CMake, and the two libraries it links statically.
packages=(
  build-essential cmake
  libboost-json1.81-dev nettle-dev
)
if [ "${1:-}" != demo ]; then
  packages+=(
    pkg-config git libplist-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    python3 attr util-linux mount procps patch
    dpkg-dev file systemd lintian
    man-db groff-base
    # The Apple cross build: LLVM's Mach-O tools (archiver, otool, lipo),
    # and openssl to check zig, which comes from the npm registry.
    openssl ninja-build llvm-14
  )
  # npm may come with a Node.js from outside Debian, whose package then
  # conflicts with Debian's npm: install it only when there is none.
  command -v npm >/dev/null || packages+=(npm)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' ||
    missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
