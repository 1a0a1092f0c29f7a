#!/bin/bash
# The daemon under the real launchd, on a Mac, as root:
#
#   sudo lease-daemon/tests/launchd_test.sh BUILD_DIR
#
# 1. Installs the built daemon and its job with the Apple install rule
#    (cmake --install BUILD_DIR --component launchd) and bootstraps the job
#    into the system domain; launchd starts it at load.
# 2. A client that is not signed by the daemon's team is refused:
#    vesk-lease-client, run as the invoking (non-root) user, gets its
#    connection closed (exit 1) for `renew`, `release` and the `-` action
#    list, and the sleep setting does not move. Without a signing identity
#    (CI) no client can hold a lease, so every client is refused.
# 3. A daemon stopped while holding a lease: since no client can take one
#    here, the lease's traces are made by hand, as the daemon leaves them
#    (the state file with the value to put back, and `pmset -a disablesleep
#    1`). The daemon is then killed (signal 9, restarted by launchd's
#    KeepAlive) and restarted (launchctl kickstart -k); each new start must
#    put SleepDisabled back to 0 and remove the state file.
# 4. Boots the job out.
#
# It changes the machine's real sleep setting, so whatever happens the exit
# trap boots the job out, removes what it installed and the state file, and
# puts the setting back as it found it. It refuses to run where a daemon of
# this name is already installed, loaded or owes a restore.
#
# Exit status: 0 passed, 1 failed, 77 skipped (not macOS, or not root).
# Written for the bash 3.2 that macOS ships as /bin/bash.
set -euo pipefail

readonly LABEL=com.vesk.Vesk.break-security
readonly JOB=/Library/LaunchDaemons/$LABEL.plist
readonly STATE=/var/db/$LABEL.plist
readonly SERVICE=system/$LABEL

build=${1:?usage: launchd_test.sh BUILD_DIR}
build=$(cd "$build" && pwd)
client=$build/bin/vesk-lease-client

if [[ $(uname -s) != Darwin ]]; then
  echo "launchd_test.sh: skipped: macOS only"
  exit 77
fi
if [[ $(id -u) != 0 ]]; then
  echo "launchd_test.sh: skipped: run as root (sudo)"
  exit 77
fi

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
die() {
  echo "launchd_test.sh: $*" >&2
  exit 1
}

# The SleepDisabled value that pmset -g shows, read as the daemon reads it:
# the first such line counts, and "?" stands for one that is not the name
# and a value. pmset prints the line only once the setting has been set on
# this Mac; without it the value is 0.
sleep_disabled() {
  pmset -g | awk '!found && $1 == "SleepDisabled" {
                    found = 1; value = (NF == 2 ? $2 : "?") }
                  END { print (found ? value : 0) }'
}
loaded() {
  launchctl print "$SERVICE" >/dev/null 2>&1
}
daemon_pid() {
  launchctl print "$SERVICE" 2>/dev/null |
    awk '$1 == "pid" && $2 == "=" { print $3; exit }'
}
running() {
  [[ -n $(daemon_pid) ]]
}
unloaded() {
  ! loaded
}
# wait_for SECONDS DESCRIPTION COMMAND...: polls COMMAND until it succeeds;
# the test ends (and the trap restores the machine) if it did not within
# SECONDS, since the later steps build on it.
wait_for() {
  local limit=$1 what=$2
  shift 2
  local deadline=$((SECONDS + limit))
  until "$@"; do
    ((SECONDS < deadline)) || die "FAIL: not within ${limit}s: $what"
    sleep 0.2
  done
}

# --- refuse to disturb a real installation ---------------------------------
[[ -x $build/bin/VeskBreakSecurityHelper ]] ||
  die "no $build/bin/VeskBreakSecurityHelper: build first"
[[ -x $client ]] || die "no $client: build first"
! loaded || die "$SERVICE is loaded already; boot it out first"
source_job=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../packaging/macos" &&
  pwd)/$LABEL.plist
daemon=$(plutil -extract ProgramArguments.0 raw -o - "$source_job") ||
  die "cannot read the daemon's path from $source_job"
for file in "$JOB" "$daemon" "$STATE"; do
  [[ ! -e $file ]] || die "$file exists: a real installation is present"
done
original=$(sleep_disabled)
[[ $original =~ ^[01]$ ]] || die "cannot read SleepDisabled from pmset -g"
# Neither was there before (checked above), so the cleanup removes both.
installed=("$JOB" "$daemon")

cleanup() {
  local status=$?
  set +e
  if loaded; then
    launchctl bootout "$SERVICE" >/dev/null 2>&1
    local deadline=$((SECONDS + 30))
    while loaded && ((SECONDS < deadline)); do sleep 0.2; done
  fi
  rm -f "${installed[@]}" "$STATE"
  if [[ $(sleep_disabled) != "$original" ]]; then
    pmset -a disablesleep "$original"
  fi
  if loaded || [[ $(sleep_disabled) != "$original" ]]; then
    echo "launchd_test.sh: could not restore the machine: check" \
      "launchctl print $SERVICE and pmset -g" >&2
    status=1
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# --- 1. install and bootstrap ----------------------------------------------
cmake --install "$build" --component launchd
for file in "$JOB" "$daemon"; do
  [[ -f $file ]] || die "the install rule did not install $file"
done
[[ -x $daemon ]] || die "$daemon is not executable"
chown root:wheel "$JOB" "$daemon"

launchctl bootstrap system "$JOB"
wait_for 30 "the daemon runs after bootstrap" running

# --- 2. an unsigned client is refused --------------------------------------
user=${SUDO_USER:-nobody}
[[ $user != root ]] || user=nobody
expect_refused() {
  local what=$1 output status=0
  shift
  output=$(sudo -u "$user" "$client" "$@" 2>&1) || status=$?
  if [[ $status != 1 || $output != *"connection closed"* ]]; then
    fail "$what: expected exit 1 and \"connection closed\", got $status: $output"
  fi
}
expect_refused renew renew </dev/null
expect_refused release release </dev/null
expect_refused "action list" - <<<$'renew\nrelease'
[[ $(sleep_disabled) == "$original" ]] ||
  fail "a refused client changed SleepDisabled to $(sleep_disabled)"

# --- 3. a new start restores what a stopped daemon left in force -----------
restored() {
  [[ ! -e $STATE && $(sleep_disabled) == 0 ]]
}
restarted_since() {
  local pid
  pid=$(daemon_pid)
  [[ -n $pid && $pid != "$1" ]]
}
for stop in "kill 9 $SERVICE" "kickstart -k $SERVICE"; do
  before=$(daemon_pid)
  plutil -create binary1 "$STATE"
  plutil -insert SleepDisabled -integer 0 "$STATE"
  chmod 0600 "$STATE"
  pmset -a disablesleep 1
  # shellcheck disable=SC2086  # the launchctl command line, word by word
  launchctl $stop
  wait_for 60 "launchctl ${stop%% *}: a new daemon runs" \
    restarted_since "$before"
  wait_for 30 "launchctl ${stop%% *}: SleepDisabled 0 and no state file" \
    restored
done

# --- 4. bootout ------------------------------------------------------------
launchctl bootout "$SERVICE"
wait_for 30 "bootout unloads the job" unloaded

if ((failures)); then
  echo "launchd_test.sh: $failures failure(s)" >&2
  exit 1
fi
echo "launchd_test.sh: passed"
