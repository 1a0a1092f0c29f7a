#!/usr/bin/env python3
"""Runs packaging/macos/sign-and-bundle.sh against stand-ins for the macOS
tools (uname, lipo, plutil, codesign, ditto, xcrun, spctl), so that what it
decides can be checked anywhere: which helpers it refuses, how it re-signs
the app, and whether it notarizes and staples or says what is left to do.

Usage: sign_and_bundle_test.py PATH_TO_SIGN_AND_BUNDLE_SH
"""
import os
import stat
import subprocess
import sys
import tempfile
import unittest

SCRIPT = None
TEAM = "ABCDE12345"
HELPERS = ("VeskBreakSecurityHelper", "VeskAgentBridge", "vesk-agent-hooks")

# One stand-in for every tool: it logs its name and arguments and answers
# from the files the test lays out. A "binary" holds its architectures as
# text; a signature is a file beside the signed path holding its
# identifier; a property list is read from KEY=VALUE lines beside it, and
# the notary service answers in such lines.
STAND_IN = r'''#!/bin/bash
name=${0##*/}
printf '%s' "$name" >>"$STAND_IN_LOG"
printf '\t%s' "$@" >>"$STAND_IN_LOG"
echo >>"$STAND_IN_LOG"
path=${!#}
case $name in
  uname) echo Darwin ;;
  lipo) cat "$path" ;;
  plutil)
    keys=$path.keys
    [[ -f $keys ]] || keys=$path
    sed -n "s/^$2=//p" "$keys" | grep . ;;
  codesign)
    case " $* " in
      *" --sign "*)
        identifier=com.vesk.Vesk
        while (($#)); do
          [[ $1 == --identifier ]] && identifier=$2
          shift
        done
        echo "$identifier" >"$path.signature" ;;
      *" --display "*)
        [[ -f $path.signature ]] || exit 1
        if [[ " $* " == *" --verbose=2 "* ]]; then
          printf 'Identifier=%s\nCodeDirectory flags=0x10000(runtime)\n' \
            "$(cat "$path.signature")" >&2
          echo "TeamIdentifier=$TEAM" >&2
        fi
        echo "designated => identifier x" >&2 ;;
    esac ;;
  xcrun)
    if [[ $1 == notarytool && $2 == submit ]]; then
      printf 'id=f00d\nstatus=%s\n' "$VERDICT"
    fi ;;
  ditto) : >"$path" ;;
esac
exit 0
'''


class SignAndBundle(unittest.TestCase):

    def run_script(self, app_archs="arm64 x86_64", helper_archs=None,
                   app_signed=True, verdict=None):
        """Runs the script on a fresh app and build; returns its exit
        status, its output and the tool calls it made, in order."""
        helper_archs = helper_archs or {}
        root = tempfile.mkdtemp()
        self.addCleanup(subprocess.run, ["rm", "-rf", root])
        tools = os.path.join(root, "tools")
        os.mkdir(tools)
        stand_in = os.path.join(tools, "stand-in")
        with open(stand_in, "w") as f:
            f.write(STAND_IN)
        os.chmod(stand_in, stat.S_IRWXU)
        for tool in ("uname", "lipo", "plutil", "codesign", "ditto",
                     "xcrun", "spctl"):
            os.symlink(stand_in, os.path.join(tools, tool))
        app = os.path.join(root, "Vesk.app")
        os.makedirs(os.path.join(app, "Contents", "MacOS"))
        info = os.path.join(app, "Contents", "Info.plist")
        open(info, "w").close()
        with open(info + ".keys", "w") as f:
            f.write("CFBundleIdentifier=com.vesk.Vesk\n"
                    "CFBundleExecutable=Vesk\n")
        with open(os.path.join(app, "Contents", "MacOS", "Vesk"), "w") as f:
            f.write(app_archs)
        if app_signed:
            with open(app + ".signature", "w") as f:
                f.write("com.vesk.Vesk")
        bin_dir = os.path.join(root, "build", "bin")
        os.makedirs(bin_dir)
        for helper in HELPERS:
            path = os.path.join(bin_dir, helper)
            with open(path, "w") as f:
                f.write(helper_archs.get(helper, app_archs))
            os.chmod(path, stat.S_IRWXU)
        log = os.path.join(root, "log")
        open(log, "w").close()
        env = dict(os.environ, PATH=tools + os.pathsep + os.environ["PATH"],
                   STAND_IN_LOG=log, TEAM=TEAM, VERDICT=verdict or "",
                   TMPDIR=root)
        command = ["bash", SCRIPT, "--identity", "Developer ID Application",
                   "--team", TEAM, "--app", app,
                   "--build", os.path.join(root, "build")]
        if verdict:
            command += ["--notary-profile", "vesk-notary"]
        result = subprocess.run(command, env=env, capture_output=True,
                                text=True)
        with open(log) as f:
            calls = [line.rstrip("\n").split("\t") for line in f]
        return result.returncode, result.stdout + result.stderr, calls, app

    def signings(self, calls):
        return [c for c in calls if c[0] == "codesign" and "--sign" in c]

    def test_helpers_must_hold_the_app_s_architectures(self):
        cases = [
            ("one helper thin", "arm64 x86_64",
             {"VeskAgentBridge": "arm64"}, False),
            ("helper for the other Mac", "arm64",
             {"vesk-agent-hooks": "x86_64"}, False),
            ("same set, other order", "arm64 x86_64",
             {h: "x86_64 arm64" for h in HELPERS}, True),
        ]
        for name, app_archs, helper_archs, accepted in cases:
            with self.subTest(name):
                status, output, calls, _ = self.run_script(
                    app_archs=app_archs, helper_archs=helper_archs)
                self.assertEqual(status == 0, accepted, output)
                if not accepted:
                    self.assertIn("the app for", output)
                    self.assertEqual(self.signings(calls), [])

    def test_app_keeps_its_own_signature_s_metadata(self):
        keep = "--preserve-metadata=entitlements,requirements,flags,runtime"
        for app_signed in (True, False):
            with self.subTest(app_signed=app_signed):
                status, output, calls, app = self.run_script(
                    app_signed=app_signed)
                self.assertEqual(status, 0, output)
                [app_signing] = [c for c in self.signings(calls)
                                 if c[-1] == app]
                self.assertEqual(keep in app_signing, app_signed)
                self.assertEqual("runtime" in app_signing, not app_signed)
                for helper in self.signings(calls)[:-1]:
                    self.assertIn("runtime", helper)
                # The app is signed last: its signature seals the helpers.
                self.assertEqual(self.signings(calls)[-1], app_signing)

    def test_notarizes_and_staples_only_what_was_accepted(self):
        cases = [
            # verdict, exit status, stapled, said
            (None, 0, False, "NOT notarized"),
            ("Accepted", 0, True, "ready to ship"),
            ("Invalid", 1, False, "notarization ended Invalid"),
        ]
        for verdict, expected, stapled, said in cases:
            with self.subTest(verdict=verdict):
                status, output, calls, app = self.run_script(verdict=verdict)
                self.assertEqual(status, expected, output)
                self.assertIn(said, output)
                if verdict != "Accepted":
                    self.assertNotIn("ready", output)
                steps = [c[1:3] for c in calls if c[0] == "xcrun"]
                if verdict:
                    submit = next(c for c in calls if c[1:3] ==
                                  ["notarytool", "submit"])
                    self.assertIn("--wait", submit)
                    # What is submitted is the app as finally signed.
                    self.assertLess(calls.index(self.signings(calls)[-1]),
                                    calls.index(submit))
                else:
                    self.assertEqual(steps, [])
                staple = ["stapler", "staple"]
                self.assertEqual(staple in steps, stapled)
                if stapled:
                    self.assertEqual(steps[:2],
                                     [["notarytool", "submit"], staple])


if __name__ == "__main__":
    SCRIPT = sys.argv.pop(1)
    unittest.main(verbosity=2)
