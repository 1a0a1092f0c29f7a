#!/bin/bash
# Puts the helpers into the Vesk app bundle and signs everything for
# distribution (macOS only).
#
#   packaging/macos/sign-and-bundle.sh --identity IDENTITY --team TEAM \
#       --app PATH/Vesk.app [--build DIR] [--entitlements FILE]
#
#   --identity      signing identity as `security find-identity -v -p
#                   codesigning` lists it, e.g.
#                   "Developer ID Application: Vesk Ltd (ABCDE12345)"
#   --team          the identity's team identifier (10 characters, A-Z and
#                   0-9); the script fails when the signatures carry another
#   --app           the desktop app's bundle, built by its own project; its
#                   CFBundleIdentifier must be com.vesk.Vesk
#   --build         this project's build folder (default: build)
#   --entitlements  the app's entitlements, kept when the app is re-signed
#
# Layout made inside the app:
#
#   Contents/MacOS/VeskBreakSecurityHelper     the lease daemon
#   Contents/MacOS/VeskAgentBridge             the agents' hook command
#   Contents/MacOS/vesk-agent-hooks            its installer
#   Contents/Library/LaunchDaemons/com.vesk.Vesk.break-security.plist
#
# The daemon's job names its program relative to the bundle, for the app's
# SMAppService registration. The hook and its installer sit side by side,
# because the installer writes the path of the VeskAgentBridge next to its
# own (real, links resolved) location into the agents' settings.
#
# Every program is signed with the hardened runtime and a secure timestamp,
# inside out (helpers first, the app last, since the app's signature seals
# what it contains), each with its own identifier. The daemon serves only a
# client that satisfies
#   anchor apple generic and identifier "com.vesk.Vesk"
#     and certificate leaf[subject.OU] = "<the daemon's team>"
# so the app must be signed by the same team as the daemon: the script
# checks the finished app against that very requirement. Ad-hoc signatures
# carry no team and the daemon would refuse every client, so a real
# identity is required.
set -euo pipefail

readonly APP_IDENTIFIER=com.vesk.Vesk
readonly JOB=com.vesk.Vesk.break-security.plist
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly here

usage() {
  sed -n '5,17p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

fail() {
  echo "sign-and-bundle.sh: $*" >&2
  exit 1
}

identity='' team='' app='' build=build entitlements=''
while (($#)); do
  case $1 in
    --identity | --team | --app | --build | --entitlements)
      (($# >= 2)) || usage
      declare "${1#--}=$2"
      shift 2
      ;;
    -h | --help) usage ;;
    *) usage ;;
  esac
done
[[ -n $identity && -n $team && -n $app ]] || usage
[[ $(uname -s) == Darwin ]] || fail "runs on macOS only"
[[ $team =~ ^[A-Z0-9]{10}$ ]] ||
  fail "--team must be 10 characters A-Z or 0-9: $team"
[[ $identity != - ]] ||
  fail "an ad-hoc signature has no team; the daemon would refuse the app"
[[ -z $entitlements || -f $entitlements ]] ||
  fail "no entitlements file $entitlements"
app=${app%/}
[[ -f $app/Contents/Info.plist ]] || fail "not an app bundle: $app"
bundle_id=$(plutil -extract CFBundleIdentifier raw -o - "$app/Contents/Info.plist") ||
  fail "$app/Contents/Info.plist has no CFBundleIdentifier"
[[ $bundle_id == "$APP_IDENTIFIER" ]] ||
  fail "the app's CFBundleIdentifier is $bundle_id, the daemon serves only $APP_IDENTIFIER"

# program name, signing identifier
helpers=(
  "VeskBreakSecurityHelper $APP_IDENTIFIER.break-security"
  "VeskAgentBridge $APP_IDENTIFIER.agent-bridge"
  "vesk-agent-hooks $APP_IDENTIFIER.agent-hooks"
)
for entry in "${helpers[@]}"; do
  program=${entry%% *}
  [[ -x $build/bin/$program ]] ||
    fail "no $build/bin/$program: build the project first (cmake --build $build)"
done

# --- assemble ---
macos_dir=$app/Contents/MacOS
jobs_dir=$app/Contents/Library/LaunchDaemons
mkdir -p "$macos_dir" "$jobs_dir"
for entry in "${helpers[@]}"; do
  program=${entry%% *}
  install -m 0755 "$build/bin/$program" "$macos_dir/$program"
done
install -m 0644 "$here/bundle/$JOB" "$jobs_dir/$JOB"

# --- sign ---
sign() {
  codesign --force --sign "$identity" --options runtime --timestamp "$@"
}
for entry in "${helpers[@]}"; do
  program=${entry%% *}
  sign --identifier "${entry#* }" "$macos_dir/$program"
done
if [[ -n $entitlements ]]; then
  sign --entitlements "$entitlements" "$app"
else
  sign "$app"
fi

# --- verify ---
team_of() {
  codesign --display --verbose=2 "$1" 2>&1 | sed -n 's/^TeamIdentifier=//p'
}
check() {
  local path=$1 identifier=$2 details
  codesign --verify --strict --verbose=2 "$path"
  details=$(codesign --display --verbose=2 "$path" 2>&1)
  grep -qx "Identifier=$identifier" <<<"$details" ||
    fail "$path is not signed as $identifier"
  grep -q '^CodeDirectory .*flags=.*runtime' <<<"$details" ||
    fail "$path is signed without the hardened runtime"
  [[ $(team_of "$path") == "$team" ]] ||
    fail "$path is signed by team $(team_of "$path"), not $team"
  echo "$path:"
  codesign --display --requirements - "$path" 2>&1 | grep '^designated'
}
for entry in "${helpers[@]}"; do
  check "$macos_dir/${entry%% *}" "${entry#* }"
done
check "$app" "$APP_IDENTIFIER"
codesign --verify --deep --strict "$app"
client_requirement="anchor apple generic and identifier \"$APP_IDENTIFIER\" and certificate leaf[subject.OU] = \"$team\""
codesign --verify --strict --test-requirement="=$client_requirement" "$app" ||
  fail "the daemon would refuse $app: it does not satisfy $client_requirement"
echo "$app is ready; the app registers the daemon with" \
  "SMAppService daemonServiceWithPlistName:@\"$JOB\""
