#!/bin/bash
# Checks the shipped programs of an Apple build before they are bundled:
#
#   packaging/macos/check-programs.sh BUILD_DIR "ARCH..."
#
# Each of VeskAgentBridge, VeskBreakSecurityHelper, vesk-lease-client and
# vesk-agent-hooks must exist in BUILD_DIR/bin, hold exactly the
# architectures ARCH... (in any order: "arm64", "x86_64" or both), and load
# no library outside /usr/lib and /System/Library, since a Mac has nothing
# else. LIPO and OTOOL name the tools (default lipo and otool; llvm-lipo
# and llvm-otool do the same elsewhere).
#
# Exit status: 0 when every program passes, 1 otherwise (each fault named).
set -euo pipefail

lipo=${LIPO:-lipo}
otool=${OTOOL:-otool}
build=${1:?usage: check-programs.sh BUILD_DIR "ARCH..."}
expected=${2:?usage: check-programs.sh BUILD_DIR "ARCH..."}

# The words of $1, sorted and joined by single spaces.
arch_set() {
  tr -s '[:space:]' '\n' <<<"$1" | sed '/^$/d' | sort | paste -sd ' ' -
}
expected=$(arch_set "$expected")

status=0
for program in VeskAgentBridge VeskBreakSecurityHelper \
               vesk-lease-client vesk-agent-hooks; do
  binary=$build/bin/$program
  if [[ ! -x $binary ]]; then
    echo "::error::$binary was not built"
    status=1
    continue
  fi
  archs=$(arch_set "$("$lipo" -archs "$binary")")
  if [[ $archs != "$expected" ]]; then
    echo "::error::$binary is built for $archs, not $expected"
    status=1
  fi
  libraries=$("$otool" -L "$binary")
  echo "$libraries"
  # The first line names the binary itself; each further line one library
  # it loads (a universal binary lists them once per architecture).
  outside=$(grep -v ':$' <<<"$libraries" | awk '{ print $1 }' |
            grep -Ev '^/usr/lib/|^/System/Library/' || true)
  if [[ -n $outside ]]; then
    echo "::error::$program loads libraries outside the system: $outside"
    status=1
  fi
done
exit "$status"
