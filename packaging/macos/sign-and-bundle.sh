#!/bin/bash
# Puts the helpers into the Vesk app bundle, signs everything for
# distribution and, given notary credentials, notarizes and staples the app
# (macOS only).
#
#   packaging/macos/sign-and-bundle.sh --identity IDENTITY --team TEAM \
#       --app PATH/Vesk.app [--build DIR] [--entitlements FILE] \
#       [--notary-profile PROFILE]
#
#   --identity        signing identity as `security find-identity -v -p
#                     codesigning` lists it, e.g.
#                     "Developer ID Application: Vesk Ltd (ABCDE12345)"
#   --team            the identity's team identifier (10 characters, A-Z
#                     and 0-9); the script fails when the signatures carry
#                     another
#   --app             the desktop app's bundle, built and signed by its own
#                     project; its CFBundleIdentifier must be com.vesk.Vesk
#   --build           this project's build folder (default: build); for a
#                     universal app, the universal build (build-universal)
#   --entitlements    entitlements for the app, in place of those its own
#                     signature carries
#   --notary-profile  a notarytool keychain profile (made once with `xcrun
#                     notarytool store-credentials PROFILE`); without one
#                     the app is signed but not notarized
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
# own (real, links resolved) location into the agents' settings. Each helper
# must hold exactly the architectures of the app's own executable: a helper
# that lacks one would not run on that kind of Mac.
#
# Every program is signed with the hardened runtime and a secure timestamp,
# inside out (helpers first, the app last, since the app's signature seals
# what it contains), each with its own identifier. The app is re-signed
# keeping what its own signature holds (entitlements, requirements, flags,
# runtime version), so the app's project stays the authority on those. The
# daemon serves only a client that satisfies
#   anchor apple generic and identifier "com.vesk.Vesk"
#     and certificate leaf[subject.OU] = "<the daemon's team>"
# so the app must be signed by the same team as the daemon: the script
# checks the finished app against that very requirement. Ad-hoc signatures
# carry no team and the daemon would refuse every client, so a real
# identity is required.
#
# Signing anew voids an earlier notarization. With --notary-profile the
# script submits the app to Apple's notary service, waits for the verdict,
# staples the ticket to the app and has Gatekeeper assess it; only then is
# the app ready to ship. Without it, the script says what is left to do.
set -euo pipefail

readonly APP_IDENTIFIER=com.vesk.Vesk
readonly JOB=com.vesk.Vesk.break-security.plist
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly here

usage() {
  sed -n '6,24p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

fail() {
  echo "sign-and-bundle.sh: $*" >&2
  exit 1
}

identity='' team='' app='' build=build entitlements='' notary_profile=''
while (($#)); do
  case $1 in
    --identity | --team | --app | --build | --entitlements | --notary-profile)
      (($# >= 2)) || usage
      option=${1#--}
      declare "${option//-/_}=$2"
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
# The architectures of a Mach-O file, sorted, on one line.
archs_of() {
  lipo -archs "$1" | tr -s '[:space:]' '\n' | sed '/^$/d' | sort |
    paste -sd ' ' -
}
executable=$(plutil -extract CFBundleExecutable raw -o - "$app/Contents/Info.plist") ||
  fail "$app/Contents/Info.plist has no CFBundleExecutable"
app_archs=$(archs_of "$app/Contents/MacOS/$executable") ||
  fail "cannot read the architectures of $app/Contents/MacOS/$executable"
for entry in "${helpers[@]}"; do
  program=${entry%% *}
  [[ -x $build/bin/$program ]] ||
    fail "no $build/bin/$program: build the project first (cmake --build $build)"
  archs=$(archs_of "$build/bin/$program") ||
    fail "cannot read the architectures of $build/bin/$program"
  [[ $archs == "$app_archs" ]] ||
    fail "$build/bin/$program is built for $archs, the app for $app_archs:" \
      "build the helpers for the app's architectures (the macos-universal" \
      "preset builds arm64 and x86_64)"
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
for entry in "${helpers[@]}"; do
  program=${entry%% *}
  codesign --force --sign "$identity" --options runtime --timestamp \
    --identifier "${entry#* }" "$macos_dir/$program"
done
# The app keeps what its own signature holds; an app without one gets the
# hardened runtime here. Explicit entitlements take the place of kept ones.
if codesign --display "$app" >/dev/null 2>&1; then
  app_options=("--preserve-metadata=entitlements,requirements,flags,runtime")
else
  app_options=(--options runtime)
fi
if [[ -n $entitlements ]]; then
  app_options+=(--entitlements "$entitlements")
fi
codesign --force --sign "$identity" --timestamp "${app_options[@]}" "$app"

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

# --- notarize and staple ---
if [[ -z $notary_profile ]]; then
  cat <<EOF
$app is signed, but NOT notarized: Gatekeeper blocks it once it is downloaded.
Left to do before it ships (or run this script again with --notary-profile):
  ditto -c -k --keepParent "$app" Vesk.zip
  xcrun notarytool submit Vesk.zip --keychain-profile PROFILE --wait
  xcrun stapler staple "$app"
  spctl --assess --type execute --verbose=2 "$app"
EOF
  exit 0
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/sign-and-bundle.XXXXXX")
trap 'rm -rf "$work"' EXIT
ditto -c -k --keepParent "$app" "$work/upload.zip"
# notarytool exits 0 whatever the verdict: the verdict is its status.
xcrun notarytool submit "$work/upload.zip" --keychain-profile "$notary_profile" \
  --wait --output-format json >"$work/result.json" ||
  fail "the notary service could not be reached or refused the upload"
verdict=$(plutil -extract status raw -o - "$work/result.json" 2>/dev/null || true)
if [[ $verdict != Accepted ]]; then
  submission=$(plutil -extract id raw -o - "$work/result.json" 2>/dev/null || true)
  fail "notarization ended ${verdict:-without a verdict}; the reasons:" \
    "xcrun notarytool log ${submission:-SUBMISSION} --keychain-profile $notary_profile"
fi
xcrun stapler staple "$app"
xcrun stapler validate "$app"
spctl --assess --type execute --verbose=2 "$app" ||
  fail "Gatekeeper does not accept $app"
echo "$app is signed, notarized and stapled: ready to ship. The app registers" \
  "the daemon with SMAppService daemonServiceWithPlistName:@\"$JOB\""
