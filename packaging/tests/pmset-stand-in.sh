#!/bin/sh
# A stand-in for macOS's pmset on Linux: "pmset -g" prints the SleepDisabled
# line, "pmset -a disablesleep N" stores N in /var/db, the one folder the
# daemon's service unit leaves writable. Try the lease daemon with:
#   sudo install -m 0755 packaging/tests/pmset-stand-in.sh /usr/bin/pmset
state=/var/db/pmset-stand-in.SleepDisabled
umask 022 # readable by everyone, whatever umask the daemon runs with
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
