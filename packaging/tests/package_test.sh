#!/usr/bin/env bash
# Builds the two Debian packages with cpack (twice: the same build gives the
# same bytes), holds them to lintian, and installs, upgrades and purges them
# with dpkg in a private mount namespace (overlays on /usr, /etc and /var;
# empty /run and /home): the hook's package alone, the daemon's without
# CAP_SYS_ADMIN, then both: modes, the team mark, the unit's sandbox, the
# daemon confined as its unit confines it, an administrator's disabling
# kept across an upgrade, a hand-started daemon stopped by the removal, and
# a clean purge.
#
# Usage: package_test.sh BUILD_DIR TEAM SOURCE_DIR BRIDGE DAEMON CLIENT
#   SOURCE_DIR: the packaging folder; BRIDGE, DAEMON, CLIENT: 1 when the
#   build has that program. Needs root; exits 77 (skipped) without it.
set -euo pipefail

DAEMON=/usr/libexec/VeskBreakSecurityHelper
UNIT=/usr/lib/systemd/system/com.vesk.Vesk.break-security
UNITS=(com.vesk.Vesk.break-security.socket com.vesk.Vesk.break-security.service)
SOCKET=/run/com.vesk.Vesk.break-security
HOOKS_PACKAGE=vesk-agent-hooks
DAEMON_PACKAGE=vesk-break-security-helper
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

# exited PID: the process has ended (reaped, or a zombie not yet reaped).
exited() {
  local state
  state=$(cut -d ' ' -f 3 "/proc/$1/stat" 2>/dev/null) || return 0
  [ "$state" = Z ]
}

# A marked client in a home the daemon cannot see holds a lease; SIGTERM, as
# package removal sends it, puts the setting back before the daemon exits 0.
# The daemon is stopped by the command in STOP..., or by SIGTERM from here.
check_confined_daemon() {
  local team=$1 app=/home/vesk-app-check renewed='' held='' status=0 daemon after
  shift
  install -o root -g root -m 0755 /usr/bin/vesk-lease-client "$app"
  setfattr -n trusted.codesign.identifier -v com.vesk.Vesk "$app"
  setfattr -n trusted.codesign.team -v "$team" "$app"
  # An earlier daemon's socket would look like this one's.
  rm -f "$SOCKET"
  start_confined_daemon
  for _ in $(seq 400); do
    [ -S "$SOCKET" ] && break
    sleep 0.05
  done
  coproc CLIENT { setpriv --reuid=nobody --regid=nogroup --clear-groups "$app" - 2>&1; }
  echo renew >&"${CLIENT[1]}"
  read -r -t 20 renewed <&"${CLIENT[0]}" || true
  held=$(cat "$SETTING" 2>&1) || true
  if [ $# -gt 0 ]; then
    "$@" >>"$scratch/dpkg.log" 2>&1 || fail "$*"
  else
    kill -TERM "$daemon"
  fi
  # A daemon still running after 60 seconds was not stopped: fail rather
  # than wait for ever.
  for _ in $(seq 600); do
    exited "$daemon" && break
    sleep 0.1
  done
  if ! exited "$daemon"; then
    fail "the daemon still runs after: ${*:-kill -TERM}"
    kill -KILL "$daemon"
  fi
  wait "$daemon" || status=$?
  after=$(cat "$SETTING" 2>&1) || true
  [ "$renewed/$held/$status/$after" = "renew: YES/1/0/0" ] ||
    fail "confined daemon: '$renewed', setting '$held' while held," \
      "exit status $status, then setting '$after'"
  if [ -n "${CLIENT[1]:-}" ]; then eval "exec ${CLIENT[1]}>&-"; fi
  wait 2>/dev/null || true
  rm -f "$app"
}

# expect_gone PATH...: none of PATH exists.
expect_gone() {
  local left
  left=$(ls -d "$@" 2>/dev/null || true)
  [ -z "$left" ] || fail "left behind: $left"
}

# The shipped programs carry no .comment section (compiler version strings).
expect_no_comment() {
  local program
  for program; do
    if readelf --section-headers --wide "$program" | grep -q ' \.comment '; then
      fail "$program has a .comment section"
    fi
  done
}

# The hook's package alone, on a machine that never gets the daemon's: it
# installs, the hook writes a status file for an ordinary user, and a purge
# takes all of it.
check_hooks_alone() {
  local hooks=$1 home
  dpkg -i "$hooks" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "dpkg -i $HOOKS_PACKAGE"; return; }
  expect 755 /usr/bin/vesk-agent-hooks
  expect 644 /usr/share/vesk/agent-hooks/{claude-settings,cursor-hooks}.json \
    /usr/share/doc/$HOOKS_PACKAGE/{copyright,changelog.Debian.gz,hook-templates.md} \
    /usr/share/man/man1/vesk-agent-hooks.1.gz
  expect_no_comment /usr/bin/vesk-agent-hooks
  if [ "$has_bridge" = 1 ]; then
    expect 755 /usr/bin/VeskAgentBridge
    expect 644 /usr/share/man/man1/VeskAgentBridge.1.gz
    expect_no_comment /usr/bin/VeskAgentBridge
    home=$(mktemp -d /home/hook-user.XXXXXX)
    chown nobody:nogroup "$home"
    setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$home" \
      /usr/bin/VeskAgentBridge "Claude Code" working \
      <"$source/../agent-bridge/samples/claude-user-prompt-submit.json"
    ls "$home/Library/Application Support/Vesk/agents/"*.json >/dev/null 2>&1 ||
      fail "the packaged hook wrote no status file"
    rm -rf "$home"
  fi
  dpkg --purge "$HOOKS_PACKAGE" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "purge $HOOKS_PACKAGE"; }
  expect_gone /usr/bin/VeskAgentBridge /usr/bin/vesk-agent-hooks /usr/share/vesk \
    /usr/share/doc/$HOOKS_PACKAGE
}

# Without CAP_SYS_ADMIN (a default container) the daemon's package still
# configures: the mark cannot be set, and postinst says what follows.
check_daemon_without_cap_sys_admin() {
  local daemon_deb=$1 got
  if ! setpriv --bounding-set=-sys_admin dpkg -i "$daemon_deb" >"$scratch/dpkg.log" 2>&1; then
    cat "$scratch/dpkg.log"
    fail "dpkg -i without CAP_SYS_ADMIN"
  fi
  got=$(dpkg-query -W -f='${db:Status-Abbrev}' "$DAEMON_PACKAGE" 2>&1) || true
  [ "$got" = "ii " ] || fail "without CAP_SYS_ADMIN the package is '$got', want 'ii '"
  grep -q "refuses every client" "$scratch/dpkg.log" ||
    fail "postinst without CAP_SYS_ADMIN did not say what the daemon refuses"
  getfattr -n trusted.codesign.team "$DAEMON" >/dev/null 2>&1 &&
    fail "a team mark without CAP_SYS_ADMIN"
  dpkg --purge "$DAEMON_PACKAGE" >"$scratch/dpkg.log" 2>&1 ||
    { cat "$scratch/dpkg.log"; fail "purge after an install without CAP_SYS_ADMIN"; }
}

inside() {
  local hooks=$1 daemon_deb=$2 team=$3 scratch=$4 source=$5 has_bridge=$6 has_daemon=$7 has_client=$8
  mount -t tmpfs tmpfs "$scratch"
  for dir in usr etc var; do
    mkdir -p "$scratch/$dir/upper" "$scratch/$dir/work"
    mount -t overlay overlay \
      -o "lowerdir=/$dir,upperdir=$scratch/$dir/upper,workdir=$scratch/$dir/work" "/$dir"
  done
  mount -t tmpfs -o mode=0755 tmpfs /run
  mount -t tmpfs -o mode=0755 tmpfs /home
  rm -rf /var/db /var/lib/vesk-break-security-helper

  check_hooks_alone "$hooks"
  [ "$has_daemon" = 1 ] || return 0
  check_daemon_without_cap_sys_admin "$daemon_deb"
  expect_gone /var/db

  if ! dpkg -i "$hooks" "$daemon_deb" >"$scratch/dpkg.log" 2>&1; then
    cat "$scratch/dpkg.log"
    fail "dpkg -i"
    return
  fi
  expect 755 "$DAEMON" /var/db
  # The service sees /run read-only: its lock file is made for it.
  expect 600 /run/com.vesk.Vesk.break-security.lock
  expect 644 "$UNIT.socket" "$UNIT.service" /usr/lib/tmpfiles.d/com.vesk.Vesk.break-security.conf \
    /usr/share/man/man8/VeskBreakSecurityHelper.8.gz \
    /usr/share/doc/$DAEMON_PACKAGE/{copyright,changelog.Debian.gz,SECURITY.md}
  expect_no_comment "$DAEMON"
  if [ "$has_client" = 1 ]; then
    expect 755 /usr/bin/vesk-lease-client
    expect_no_comment /usr/bin/vesk-lease-client
  fi
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
  fi

  # First install: both units enabled. An administrator's disabling stays
  # across an upgrade (the same package installed again).
  [ "$(enabled)" = "socket service" ] || fail "enabled after install: '$(enabled)'"
  systemctl --root=/ --quiet disable "${UNITS[@]}" 2>/dev/null
  dpkg -i "$daemon_deb" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "upgrade"; }
  [ -z "$(enabled)" ] || fail "enabled again by the upgrade: '$(enabled)'"

  # Removing the package (here without systemd) stops a daemon started by
  # hand, which puts back the setting a lease holds; the purge then takes
  # the lock, the folder the package created and the units' enablement
  # state, and leaves what others put in /var. The hook's package stays.
  if [ "$has_client" = 1 ]; then
    check_confined_daemon "$team" dpkg --remove "$DAEMON_PACKAGE"
    # The stand-in keeps its value in /var/db, where no real tool would.
    rm -f /usr/bin/pmset "$SETTING"
  fi
  dpkg --purge "$DAEMON_PACKAGE" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "purge"; }
  expect_gone /var/db /var/lib/vesk-break-security-helper "$DAEMON" \
    /etc/systemd/system/{,*/}com.vesk.Vesk.* \
    /var/lib/systemd/deb-systemd-helper-*/*com.vesk.Vesk* /run/com.vesk.Vesk.break-security.lock
  [ -d /var/lib/dpkg ] || fail "purge took /var/lib/dpkg"
  [ -x /usr/bin/vesk-agent-hooks ] || fail "removing the daemon's package took the hook's"

  # A /var/db the package did not create stays, even empty.
  mkdir /var/db
  { dpkg -i "$daemon_deb" && dpkg --purge "$DAEMON_PACKAGE"; } >"$scratch/dpkg.log" 2>&1 ||
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
for out in out again; do
  if ! cpack --config "$build/CPackConfig.cmake" -B "$work/$out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
  fi
done
hooks=$(echo "$work/out/${HOOKS_PACKAGE}_"*.deb)
daemon_deb=$(echo "$work/out/${DAEMON_PACKAGE}_"*.deb)
[ "${5:-1}" = 1 ] || daemon_deb=none
for deb in "$hooks" "$daemon_deb"; do
  [ "$deb" = none ] && continue
  cmp -s "$deb" "$work/again/${deb##*/}" || fail "${deb##*/} differs between two cpack runs"
done
# Nothing above pedantic level, and no hardening tag at any level.
[ "$daemon_deb" = none ] && daemon_deb_list=() || daemon_deb_list=("$daemon_deb")
lintian --pedantic --display-experimental "$hooks" "${daemon_deb_list[@]}" 2>&1 |
  grep -v '^running with root' >"$work/lintian.log" || true
if grep -E '^[EWI]: | hardening-' "$work/lintian.log"; then
  fail "lintian"
fi
mkdir "$work/ns"
unshare --mount --propagation private bash "$0" --inside "$hooks" "$daemon_deb" "$team" \
  "$work/ns" "$source" "${@:4}" || failures=1
[ "$failures" = 0 ] && echo "all package checks passed"
exit "$failures"
