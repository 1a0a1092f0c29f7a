#!/bin/sh
# A stand-in for macOS's pmset on Linux: "pmset -g" prints the SleepDisabled
# line as the real tool lays it out, "pmset -a disablesleep N" stores N.
# Try the lease daemon with:
#   sudo install -m 0755 lease-daemon/testing/pmset-stand-in.sh /usr/bin/pmset
#
# The setting lives in /var/db, the one folder the daemon's service unit
# leaves writable. When PMSET_STAND_IN_DIR names a folder (the tests set it),
# the setting lives in that folder's "value" instead, every run is logged to
# "runs" (its arguments) and "fds" (its open descriptors), and flag files
# there change what it does: "fail-write" makes writes exit 1, "ignore-write"
# makes them exit 0 without storing, "slow" makes every run take longer than
# the daemon's 1-second lease tick.
dir=${PMSET_STAND_IN_DIR:-}
if [ -n "$dir" ]; then
  state=$dir/value
  printf '%s\n' "$*" >>"$dir/runs"
  # Linux lists each descriptor with its target; macOS has no /proc, and
  # its /dev/fd lists the names of the descriptors ls inherited.
  ls -l "/proc/$$/fd/" >>"$dir/fds" 2>/dev/null || ls /dev/fd/ >>"$dir/fds"
  [ -e "$dir/slow" ] && sleep 1.2
else
  state=/var/db/pmset-stand-in.SleepDisabled
fi
umask 022 # readable by everyone, whatever umask the daemon runs with
case "$1" in
  -g)
    value=$(cat "$state" 2>/dev/null || echo 0)
    printf 'System-wide power settings:\n SleepDisabled\t\t%s\n' "$value"
    printf 'Currently in use:\n standby              1\n'
    ;;
  -a)
    [ "$2" = disablesleep ] && [ $# -eq 3 ] || exit 1
    [ -n "$dir" ] && [ -e "$dir/fail-write" ] && exit 1
    [ -n "$dir" ] && [ -e "$dir/ignore-write" ] && exit 0
    # Replaced whole, so that a reader never sees it half written.
    printf '%s\n' "$3" >"$state.new" && mv "$state.new" "$state" || exit 1
    # The real tool may talk on both streams; the daemon must not mind.
    [ -n "$dir" ] && echo 'Warning: a stand-in' && echo 'stand-in' >&2
    ;;
  *)
    echo "usage: pmset -g | pmset -a disablesleep 0|1" >&2
    exit 1
    ;;
esac
exit 0
