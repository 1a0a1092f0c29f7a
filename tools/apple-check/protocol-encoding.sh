#!/bin/sh
# Usage: protocol-encoding.sh OTOOL STAMP OBJECT
# OBJECT is the XPC protocol header compiled alone for Intel Macs, where
# BOOL is a signed char and would encode as "c": every method name and type
# encoding in it is the protocol's. Touches STAMP when they are exactly the
# two selectors and the plain and the extended encoding that the daemon and
# the app agree on; otherwise says what it found and fails.
set -eu
otool=$1 stamp=$2 object=$3
strings_of() {
  "$otool" -v -s __TEXT "$1" "$object" |
    sed -n 's/^[0-9a-f]\{8,\}[[:space:]]\{1,\}//p' | sort -u | tr '\n' ' '
}
names=$(strings_of __objc_methname)
types=$(strings_of __objc_methtype)
[ "$names" = "releaseLeaseWithReply: renewLeaseWithReply: " ] ||
  { echo "methods: $names" >&2; exit 1; }
[ "$types" = "v24@0:8@?16 v24@0:8@?<v@?B>16 " ] ||
  { echo "type encodings: $types" >&2; exit 1; }
touch "$stamp"
