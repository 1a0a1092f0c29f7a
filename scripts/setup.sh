#!/usr/bin/env bash
# Installs what building, testing and packaging need on a Debian 12 machine.
# Runs apt-get only when a package is missing, so a second run costs nothing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libboost-json1.81-dev nettle-dev libplist-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  python3 attr util-linux mount procps
  dpkg-dev file systemd lintian
  man-db groff-base
  # The Apple cross build: zig from the npm registry, checked with openssl;
  # LLVM's Mach-O tools (archiver, otool, lipo).
  npm openssl ninja-build llvm-14
)

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
