#!/usr/bin/env bash
# Builds the Debian package with cpack and installs it with dpkg in a private
# mount namespace whose /usr, /etc and /var are overlays on the real ones and
# whose /run is empty, so nothing outside the test changes. Checks what
# landed where with which modes, the daemon's team mark, and that the daemon
# started from the package serves a marked client.
#
# Usage: package_test.sh BUILD_DIR TEAM SOURCE_DIR BRIDGE DAEMON CLIENT
#   BRIDGE, DAEMON, CLIENT: 1 when the build has that program, else 0.
# Needs root; exits 77 (skipped) without it.
set -euo pipefail

DAEMON=/usr/libexec/VeskBreakSecurityHelper
UNIT=/usr/lib/systemd/system/com.vesk.Vesk.break-security
SOCKET=/run/com.vesk.Vesk.break-security
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# expect MODE PATH...: each PATH exists as MODE, owned by root:root.
expect() {
  local mode=$1 path got
  shift
  for path; do
    got=$(stat -c '%a %U:%G' "$path" 2>&1) || true
    [ "$got" = "$mode root:root" ] || fail "$path: $got, want $mode root:root"
  done
}

inside() {
  local deb=$1 team=$2 scratch=$3 source=$4 has_bridge=$5 has_daemon=$6 has_client=$7
  mount -t tmpfs tmpfs "$scratch"
  for dir in usr etc var; do
    mkdir -p "$scratch/$dir/upper" "$scratch/$dir/work"
    mount -t overlay overlay \
      -o "lowerdir=/$dir,upperdir=$scratch/$dir/upper,workdir=$scratch/$dir/work" "/$dir"
  done
  mount -t tmpfs -o mode=0755 tmpfs /run
  rm -rf /var/db
  if ! dpkg -i "$deb" >"$scratch/dpkg.log" 2>&1; then
    cat "$scratch/dpkg.log"
    fail "dpkg -i"
    return
  fi

  expect 755 /usr/bin/vesk-agent-hooks
  expect 644 /usr/share/vesk/agent-hooks/{claude-settings,cursor-hooks}.json
  if [ "$has_bridge" = 1 ]; then expect 755 /usr/bin/VeskAgentBridge; fi
  if [ "$has_client" = 1 ]; then expect 755 /usr/bin/vesk-lease-client; fi
  [ "$has_daemon" = 1 ] || return 0
  expect 755 "$DAEMON" /var/db
  expect 644 "$UNIT.socket" "$UNIT.service"
  grep -qx "ExecStart=$DAEMON" "$UNIT.service" || fail "the unit does not start $DAEMON"
  local got
  got=$(getfattr --only-values -n trusted.codesign.team "$DAEMON" 2>/dev/null) || true
  [ "$got" = "$team" ] || fail "team mark '$got', want '$team'"
  [ "$has_client" = 1 ] || return 0

  # The packaged daemon, with a stand-in pmset: a marked client run as an
  # ordinary user holds the lease (the setting is 1 meanwhile) and releases
  # it (back to 0).
  install -m 0755 "$source/tests/pmset-stand-in.sh" /usr/bin/pmset
  local app=/usr/local/bin/vesk-app-check setting=/var/db/pmset-stand-in.SleepDisabled
  install -m 0755 /usr/bin/vesk-lease-client "$app"
  setfattr -n trusted.codesign.identifier -v com.vesk.Vesk "$app"
  setfattr -n trusted.codesign.team -v "$team" "$app"
  "$DAEMON" &
  local daemon=$! renewed='' held='' released=''
  for _ in $(seq 200); do
    [ -S "$SOCKET" ] && break
    sleep 0.05
  done
  coproc CLIENT { setpriv --reuid=nobody --regid=nogroup --clear-groups "$app" - 2>&1; }
  echo renew >&"${CLIENT[1]}"
  read -r -t 20 renewed <&"${CLIENT[0]}" || true
  held=$(cat "$setting" 2>&1) || true
  echo release >&"${CLIENT[1]}"
  read -r -t 20 released <&"${CLIENT[0]}" || true
  [ "$renewed/$held/$released/$(cat "$setting")" = "renew: YES/1/release: YES/0" ] ||
    fail "marked client: '$renewed', setting '$held' while held, then '$released'"
  eval "exec ${CLIENT[1]}>&-"
  kill "$daemon"
  wait 2>/dev/null || true
}

if [ "${1:-}" = --inside ]; then
  shift
  inside "$@"
  exit $((failures > 0))
fi

build=$1 team=$2 source=$3
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: needs root (dpkg in a private mount namespace)"
  exit 77
fi
for tool in cpack dpkg unshare getfattr setfattr setpriv; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool not installed"
    exit 77
  fi
done
work=$(mktemp -d /tmp/vesk-package-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
mkdir "$work/ns"
unshare --mount --propagation private bash "$0" --inside "$work"/out/*.deb "$team" \
  "$work/ns" "$source" "${@:4}" || failures=1
[ "$failures" = 0 ] && echo "all package checks passed"
exit "$failures"
