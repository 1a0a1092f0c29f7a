#!/usr/bin/env bash
# Builds the Debian package with cpack, holds it to lintian, and installs,
# upgrades and purges it with dpkg in a private mount namespace (overlays on
# /usr, /etc and /var; empty /run and /home): modes, the team mark, the
# unit's sandbox, the daemon confined as its unit confines it, an
# administrator's disabling kept across an upgrade, and a clean purge.
#
# Usage: package_test.sh BUILD_DIR TEAM SOURCE_DIR BRIDGE DAEMON CLIENT
#   SOURCE_DIR: the packaging folder; BRIDGE, DAEMON, CLIENT: 1 when the
#   build has that program. Needs root; exits 77 (skipped) without it.
set -euo pipefail

DAEMON=/usr/libexec/VeskBreakSecurityHelper
UNIT=/usr/lib/systemd/system/com.vesk.Vesk.break-security
UNITS=(com.vesk.Vesk.break-security.socket com.vesk.Vesk.break-security.service)
SOCKET=/run/com.vesk.Vesk.break-security
LOCK=/var/db/com.vesk.Vesk.break-security.lock
SETTING=/var/db/pmset-stand-in.SleepDisabled
# The highest exposure `systemd-analyze security` may give the service, in
# tenths (15 is 1.5), so that a loosened sandbox fails here.
MAX_EXPOSURE=15
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

# enabled: the units the package's postinst enabled, as systemd would see
# them ("socket service", either, or nothing).
enabled() {
  local unit out=()
  for unit in "${UNITS[@]}"; do
    if systemctl --root=/ --quiet is-enabled "$unit"; then out+=("${unit##*.}"); fi
  done
  echo "${out[*]:-}"
}

# The daemon confined as its unit confines it, short of systemd's system call
# filter: homes hidden, /proc with process entries only, /usr and /etc
# read-only, no network, its own IPC, the unit's capabilities only.
start_confined_daemon() {
  # shellcheck disable=SC2016 # the inner shell expands $0
  unshare --mount --propagation private --net --ipc sh -c '
    mount -t tmpfs -o mode=0755 tmpfs /home
    mount -t tmpfs -o mode=0700 tmpfs /root
    mount -t proc -o subset=pid,hidepid=invisible proc /proc
    for dir in /usr /etc; do mount -o remount,bind,ro "$dir"; done
    exec setpriv --bounding-set=-all,+sys_admin,+sys_ptrace,+kill,+dac_read_search \
      --inh-caps=-all --no-new-privs "$0"' "$DAEMON" &
  daemon=$!
}

# A marked client in a home the daemon cannot see holds a lease; SIGTERM, as
# package removal sends it, puts the setting back before the daemon exits 0.
check_confined_daemon() {
  local team=$1 app=/home/vesk-app-check renewed='' held='' status=0 daemon after
  install -o root -g root -m 0755 /usr/bin/vesk-lease-client "$app"
  setfattr -n trusted.codesign.identifier -v com.vesk.Vesk "$app"
  setfattr -n trusted.codesign.team -v "$team" "$app"
  start_confined_daemon
  for _ in $(seq 400); do
    [ -S "$SOCKET" ] && break
    sleep 0.05
  done
  coproc CLIENT { setpriv --reuid=nobody --regid=nogroup --clear-groups "$app" - 2>&1; }
  echo renew >&"${CLIENT[1]}"
  read -r -t 20 renewed <&"${CLIENT[0]}" || true
  held=$(cat "$SETTING" 2>&1) || true
  kill -TERM "$daemon"
  wait "$daemon" || status=$?
  after=$(cat "$SETTING" 2>&1) || true
  [ "$renewed/$held/$status/$after" = "renew: YES/1/0/0" ] ||
    fail "confined daemon: '$renewed', setting '$held' while held," \
      "exit status $status, then setting '$after'"
  if [ -n "${CLIENT[1]:-}" ]; then eval "exec ${CLIENT[1]}>&-"; fi
  wait 2>/dev/null || true
  rm -f "$app"
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
  mount -t tmpfs -o mode=0755 tmpfs /home
  rm -rf /var/db /var/lib/vesk-helpers
  if ! dpkg -i "$deb" >"$scratch/dpkg.log" 2>&1; then
    cat "$scratch/dpkg.log"
    fail "dpkg -i"
    return
  fi

  expect 755 /usr/bin/vesk-agent-hooks
  expect 644 /usr/share/vesk/agent-hooks/{claude-settings,cursor-hooks}.json \
    /usr/share/doc/vesk-helpers/{copyright,changelog.Debian.gz} \
    /usr/share/man/man1/vesk-agent-hooks.1.gz
  if [ "$has_bridge" = 1 ]; then expect 755 /usr/bin/VeskAgentBridge; fi
  if [ "$has_client" = 1 ]; then expect 755 /usr/bin/vesk-lease-client; fi
  [ "$has_daemon" = 1 ] || return 0
  expect 755 "$DAEMON" /var/db
  expect 644 "$UNIT.socket" "$UNIT.service" /usr/share/man/man8/VeskBreakSecurityHelper.8.gz
  grep -qx "ExecStart=$DAEMON" "$UNIT.service" || fail "the unit does not start $DAEMON"
  local got
  got=$(getfattr --only-values -n trusted.codesign.team "$DAEMON" 2>/dev/null) || true
  [ "$got" = "$team" ] || fail "team mark '$got', want '$team'"

  # The installed units load (their manual page included), and the service
  # keeps its sandbox.
  got=$(systemd-analyze verify "$UNIT.service" 2>&1) || fail "systemd-analyze verify: $got"
  systemd-analyze security --offline=true --threshold=$MAX_EXPOSURE "$UNIT.service" \
    >"$scratch/security.log" 2>&1 ||
    fail "service exposure above $MAX_EXPOSURE tenths: $(grep Overall "$scratch/security.log")"

  if [ "$has_client" = 1 ]; then
    install -m 0755 "$source/../lease-daemon/testing/pmset-stand-in.sh" /usr/bin/pmset
    check_confined_daemon "$team"
    rm -f /usr/bin/pmset "$SETTING"
  fi

  # First install: both units enabled. An administrator's disabling stays
  # across an upgrade (the same package installed again).
  [ "$(enabled)" = "socket service" ] || fail "enabled after install: '$(enabled)'"
  systemctl --root=/ --quiet disable "${UNITS[@]}" 2>/dev/null
  dpkg -i "$deb" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "upgrade"; }
  [ -z "$(enabled)" ] || fail "enabled again by the upgrade: '$(enabled)'"

  # Purge takes the lock, the folder the package created and the units'
  # enablement state, and leaves what others put in /var.
  if [ "$has_client" = 1 ] && [ ! -e "$LOCK" ]; then fail "the daemon left no lock to clean up"; fi
  dpkg --purge vesk-helpers >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "purge"; }
  local left
  left=$(ls -d /var/db /var/lib/vesk-helpers /etc/systemd/system/{,*/}com.vesk.Vesk.* \
    /var/lib/systemd/deb-systemd-helper-*/*com.vesk.Vesk* 2>/dev/null || true)
  [ -z "$left" ] || fail "left after purge: $left"
  [ -d /var/lib/dpkg ] || fail "purge took /var/lib/dpkg"

  # A /var/db the package did not create stays, even empty.
  mkdir /var/db
  { dpkg -i "$deb" && dpkg --purge vesk-helpers; } >"$scratch/dpkg.log" 2>&1 ||
    { cat "$scratch/dpkg.log"; fail "install and purge over an existing /var/db"; }
  [ -d /var/db ] || fail "purge took a /var/db the package did not create"
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
for tool in cpack dpkg unshare getfattr setfattr setpriv systemctl systemd-analyze; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool not installed"
    exit 77
  fi
done
# lintian is part of the setup (scripts/setup.sh): a missing one is a
# failure, not a skip, so that the package is never left unchecked.
command -v lintian >/dev/null || { echo "FAIL: lintian not installed (bash scripts/setup.sh)"; exit 1; }
work=$(mktemp -d /tmp/vesk-package-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
deb=$(echo "$work"/out/*.deb)
# Errors and warnings fail; an accepted one carries an override, with its
# reason, in debian/lintian-overrides.
if ! lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1; then
  grep -v '^running with root' "$work/lintian.log"
  echo "FAIL: lintian"
  failures=1
fi
mkdir "$work/ns"
unshare --mount --propagation private bash "$0" --inside "$deb" "$team" \
  "$work/ns" "$source" "${@:4}" || failures=1
[ "$failures" = 0 ] && echo "all package checks passed"
exit "$failures"
