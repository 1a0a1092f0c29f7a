#!/bin/sh
# A stand-in for macOS's /usr/bin/pmset on Linux, for trying the lease
# daemon: "pmset -g" prints the SleepDisabled line, "pmset -a disablesleep N"
# stores N. The value lives in /var/db, the one folder the daemon's service
# unit leaves writable (and the daemon's children with it).
#   sudo install -m 0755 packaging/tests/pmset-stand-in.sh /usr/bin/pmset
state=/var/db/pmset-stand-in.SleepDisabled
# Readable by everyone, whatever umask the daemon runs with.
umask 022
case "$1" in
  -g)
    value=$(cat "$state" 2>/dev/null || echo 0)
    printf 'System-wide power settings:\n SleepDisabled\t\t%s\n' "$value"
    ;;
  -a)
    [ "$2" = disablesleep ] && [ -n "$3" ] || exit 1
    printf '%s\n' "$3" >"$state"
    ;;
  *)
    echo "usage: pmset -g | pmset -a disablesleep 0|1" >&2
    exit 1
    ;;
esac
