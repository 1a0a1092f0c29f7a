#!/usr/bin/env bash
# Builds the Debian package with cpack and installs it with dpkg in a private
# mount namespace whose /usr, /etc and /var are overlays on the real ones and
# whose /run is empty, so nothing outside the test changes. Then checks what
# landed where with which modes, the daemon's team mark and /var/db, the
# systemd units, the programs as the README runs them (wiring an agent, a
# hook run, the daemon by hand and socket-activated, a marked client as an
# ordinary user), and removal.
#
# Usage: package_test.sh BUILD_DIR TEAM SOURCE_DIR BRIDGE DAEMON CLIENT
#   BRIDGE, DAEMON, CLIENT: 1 when the build has that program, else 0.
# Needs root; exits 77 (skipped) without it.
set -euo pipefail

SERVICE=com.vesk.Vesk.break-security
PMSET_VALUE=/var/db/pmset-stand-in.SleepDisabled
SOCKET=/run/$SERVICE
DAEMON=/usr/libexec/VeskBreakSecurityHelper
UNIT_DIR=/usr/lib/systemd/system
PACKAGE=vesk-helpers

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# expect PATH TYPE MODE: TYPE f (file), d (directory) or s (socket); owner
# must be root:root.
expect() {
  local path=$1 type=$2 mode=$3 got
  if [ ! -e "$path" ]; then
    fail "$path missing"
    return
  fi
  case $type in
    f) [ -f "$path" ] || fail "$path is not a regular file" ;;
    d) [ -d "$path" ] || fail "$path is not a directory" ;;
    s) [ -S "$path" ] || fail "$path is not a socket" ;;
  esac
  got=$(stat -c '%a %U:%G' "$path")
  if [ "$got" = "$mode root:root" ]; then
    pass "$path $got"
  else
    fail "$path is $got, want $mode root:root"
  fi
}

expect_gone() {
  if [ -e "$1" ]; then fail "$1 still there"; else pass "$1 removed"; fi
}

wait_for_socket() {
  for _ in $(seq 100); do
    [ -S "$SOCKET" ] && return 0
    sleep 0.05
  done
  return 1
}

# check_lease LABEL: a marked client run as nobody holds the lease on one
# connection (the setting is 1 meanwhile) and releases it (back to 0); an
# unmarked client is refused.
check_lease() {
  local label=$1 out held
  rm -f /run/pmset-test-held
  out=$({
    echo renew
    sleep 1
    cat "$PMSET_VALUE" >/run/pmset-test-held 2>/dev/null || true
    echo release
  } | setpriv --reuid=nobody --regid=nogroup --clear-groups \
    /usr/local/bin/vesk-app-check - 2>&1) || true
  held=$(cat /run/pmset-test-held 2>/dev/null || true)
  if [ "$out" = "$(printf 'renew: YES\nrelease: YES')" ] && [ "$held" = 1 ] &&
    [ "$(cat "$PMSET_VALUE")" = 0 ]; then
    pass "$label: marked client holds the lease, release puts the setting back"
  else
    fail "$label: marked client got '$out', setting $held while held, $(cat "$PMSET_VALUE" 2>/dev/null) after"
  fi
  if out=$(setpriv --reuid=nobody --regid=nogroup --clear-groups \
    /usr/bin/vesk-lease-client renew 2>&1) && [ "$out" = "renew: YES" ]; then
    fail "$label: unmarked client was served"
  else
    pass "$label: unmarked client refused"
  fi
}

stop_daemon() {
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  rm -f "$SOCKET"
}

inside() {
  local deb=$1 team=$2 scratch=$3 source=$4 has_bridge=$5 has_daemon=$6 has_client=$7
  mount -t tmpfs tmpfs "$scratch"
  for dir in usr etc var; do
    mkdir -p "$scratch/$dir/upper" "$scratch/$dir/work"
    mount -t overlay overlay \
      -o "lowerdir=/$dir,upperdir=$scratch/$dir/upper,workdir=$scratch/$dir/work" \
      "/$dir"
  done
  mount -t tmpfs -o mode=0755 tmpfs /run
  rm -rf /var/db

  echo "== dpkg -i"
  dpkg -i "$deb" >"$scratch/dpkg.log" 2>&1 || {
    cat "$scratch/dpkg.log"
    fail "dpkg -i failed"
    return
  }

  echo "== files and modes"
  expect /usr/bin/vesk-agent-hooks f 755
  expect /usr/share/vesk/agent-hooks/claude-settings.json f 644
  expect /usr/share/vesk/agent-hooks/cursor-hooks.json f 644
  [ "$has_bridge" = 1 ] && expect /usr/bin/VeskAgentBridge f 755
  [ "$has_client" = 1 ] && expect /usr/bin/vesk-lease-client f 755
  if [ "$has_daemon" = 1 ]; then
    expect "$DAEMON" f 755
    expect "$UNIT_DIR/$SERVICE.socket" f 644
    expect "$UNIT_DIR/$SERVICE.service" f 644
    expect /var/db d 755
    local got
    got=$(getfattr --only-values -n trusted.codesign.team "$DAEMON" 2>/dev/null || true)
    if [ "$got" = "$team" ]; then pass "team mark $got"; else fail "team mark '$got', want '$team'"; fi
    if grep -qx "ExecStart=$DAEMON" "$UNIT_DIR/$SERVICE.service"; then
      pass "ExecStart=$DAEMON"
    else
      fail "service does not start $DAEMON"
    fi
    if command -v systemd-analyze >/dev/null; then
      if systemd-analyze verify "$UNIT_DIR/$SERVICE.socket" \
        "$UNIT_DIR/$SERVICE.service"; then
        pass "systemd-analyze verify"
      else
        fail "systemd-analyze verify"
      fi
    fi
    # An upgrade replaces the file and with it the mark; postinst sets it
    # again.
    dpkg -i "$deb" >"$scratch/dpkg.log" 2>&1 || fail "reinstall failed"
    got=$(getfattr --only-values -n trusted.codesign.team "$DAEMON" 2>/dev/null || true)
    if [ "$got" = "$team" ]; then
      pass "team mark after reinstall"
    else
      fail "team mark lost on reinstall"
    fi
  fi

  if [ "$has_bridge" = 1 ]; then
    echo "== wiring an agent"
    local home=$scratch/home
    mkdir -p "$home/.claude"
    if ! HOME=$home /usr/bin/vesk-agent-hooks install >"$scratch/hooks.log" 2>&1; then
      cat "$scratch/hooks.log"
      fail "vesk-agent-hooks install"
    fi
    if grep -q "/usr/bin/VeskAgentBridge 'Claude Code' working" \
      "$home/.claude/settings.json"; then
      pass "settings.json names the installed bridge"
    else
      fail "settings.json lacks the installed bridge"
    fi
    # Run the command line exactly as the agent would.
    local command
    command=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["hooks"]["UserPromptSubmit"][0]["hooks"][0]["command"])' \
      "$home/.claude/settings.json")
    echo '{"session_id":"pkg-test","hook_event_name":"UserPromptSubmit","cwd":"/work/demo"}' |
      HOME=$home sh -c "$command"
    if grep -qs '"state":"working"' "$home/Library/Application Support/Vesk/agents/"*.json; then
      pass "hook run wrote a working status file"
    else
      fail "no status file after a hook run"
    fi
  fi

  if [ "$has_daemon" = 1 ] && [ "$has_client" = 1 ]; then
    echo "== the daemon by hand"
    install -m 0755 "$source/tests/pmset-stand-in.sh" /usr/bin/pmset
    install -o root -g root -m 0755 /usr/bin/vesk-lease-client /usr/local/bin/vesk-app-check
    setfattr -n trusted.codesign.identifier -v com.vesk.Vesk /usr/local/bin/vesk-app-check
    setfattr -n trusted.codesign.team -v "$team" /usr/local/bin/vesk-app-check
    "$DAEMON" &
    local pid=$!
    if wait_for_socket; then
      expect "$SOCKET" s 666
      check_lease "by hand"
    else
      fail "daemon started by hand made no socket"
    fi
    stop_daemon "$pid"

    if command -v systemd-socket-activate >/dev/null; then
      # Roughly as the service unit runs it: handed the socket, in a file
      # system that is read-only but for /var/db (ProtectSystem=strict,
      # ProtectHome=read-only), with no new privileges and only the
      # capabilities of the unit's bounding set. Every exec keeps the
      # process id, so LISTEN_PID still names the daemon.
      echo "== the daemon socket-activated, sandboxed like the unit"
      local caps
      caps=$(sed -n 's/^CapabilityBoundingSet=//p' "$UNIT_DIR/$SERVICE.service" |
        tr '[:upper:]' '[:lower:]' | sed 's/cap_/+/g; s/ /,/g')
      echo "bounding set: $caps"
      grep -qx 'ReadWritePaths=/var/db' "$UNIT_DIR/$SERVICE.service" ||
        fail "the unit no longer leaves exactly /var/db writable"
      # shellcheck disable=SC2016
      systemd-socket-activate --seqpacket -l "$SOCKET" \
        unshare --mount --propagation private sh -c '
          set -e
          mount --bind /var/db /var/db
          for m in / /usr /etc /var /run /home /tmp; do
            mountpoint -q "$m" || mount --bind "$m" "$m"
            mount -o remount,bind,ro "$m"
          done
          exec setpriv --no-new-privs --bounding-set "-all,$1" "$2"
        ' sandbox "$caps" "$DAEMON" >"$scratch/sandboxed.log" 2>&1 &
      pid=$!
      if wait_for_socket; then
        chmod 0666 "$SOCKET"
        check_lease "socket-activated"
      else
        cat "$scratch/sandboxed.log"
        fail "no socket from systemd-socket-activate"
      fi
      stop_daemon "$pid"
    fi
  fi

  echo "== dpkg -r and --purge"
  dpkg -r "$PACKAGE" >"$scratch/dpkg.log" 2>&1 || fail "dpkg -r failed"
  expect_gone /usr/bin/vesk-agent-hooks
  expect_gone "$DAEMON"
  expect_gone "$UNIT_DIR/$SERVICE.service"
  expect_gone /usr/share/vesk/agent-hooks
  [ "$has_daemon" = 1 ] && expect /var/db d 755
  dpkg --purge "$PACKAGE" >"$scratch/dpkg.log" 2>&1 || fail "dpkg --purge failed"
  return 0
}

if [ "${1:-}" = --inside ]; then
  shift
  inside "$@"
  exit $((failures > 0))
fi

build=$1 team=$2 source=$3 has_bridge=$4 has_daemon=$5 has_client=$6
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: needs root (dpkg in a private mount namespace)"
  exit 77
fi
for tool in cpack dpkg dpkg-deb unshare getfattr setfattr setpriv python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool not installed"
    exit 77
  fi
done

work=$(mktemp -d /tmp/vesk-package-test.XXXXXX)
trap 'rm -rf "$work"' EXIT

echo "== cpack"
if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
deb=$(ls "$work"/out/*.deb)
echo "$deb"

echo "== package metadata"
if [ "$(dpkg-deb -f "$deb" Package)" = "$PACKAGE" ]; then
  pass "Package: $PACKAGE"
else
  fail "package name $(dpkg-deb -f "$deb" Package)"
fi
depends=$(dpkg-deb -f "$deb" Depends)
case ", $depends," in
  *", attr"[,\ ]*) pass "Depends: $depends" ;;
  *) fail "Depends lacks attr: $depends" ;;
esac
control=$(dpkg-deb -I "$deb")
for script in postinst prerm postrm; do
  if grep -q "$script" <<<"$control"; then
    pass "control has $script"
  else
    fail "control lacks $script"
  fi
done
if dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/' | grep -qv '^\./$'; then
  fail "files outside /usr: $(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/')"
else
  pass "every file under /usr"
fi

mkdir "$work/ns"
unshare --mount --propagation private \
  bash "$0" --inside "$deb" "$team" "$work/ns" "$source" "$has_bridge" "$has_daemon" "$has_client" ||
  failures=$((failures + 1))

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all package checks passed"
