#!/bin/bash
# Runs a test program signed ad hoc with a chosen identifier (macOS):
#
#   signed_run.sh PROGRAM IDENTIFIER [ARGUMENT...]
#
# A copy of PROGRAM in a fresh temporary folder is signed with
# `codesign --force --sign - --identifier IDENTIFIER` and run with
# IDENTIFIER and the ARGUMENTs; its exit status is the script's. The copy
# keeps the build's own file, and its cached signature, untouched. The
# folder is removed afterwards.
set -euo pipefail

program=${1:?usage: signed_run.sh PROGRAM IDENTIFIER [ARGUMENT...]}
identifier=${2:?usage: signed_run.sh PROGRAM IDENTIFIER [ARGUMENT...]}
shift 2

folder=$(mktemp -d "${TMPDIR:-/tmp}/signed_run.XXXXXX")
trap 'rm -rf "$folder"' EXIT
copy=$folder/$(basename "$program")
cp "$program" "$copy"
codesign --force --sign - --identifier "$identifier" "$copy"
status=0
"$copy" "$identifier" "$@" || status=$?
exit "$status"
