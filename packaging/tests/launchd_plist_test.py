#!/usr/bin/env python3
"""Checks the launchd job definition the Apple build ships for the daemon.

Usage: launchd_plist_test.py PATH_TO_PLIST
"""
import plistlib
import sys
import unittest

PLIST = None
SERVICE = "com.vesk.Vesk.break-security"


class LaunchdJob(unittest.TestCase):

    def test_names_the_mach_service_and_runs_as_root(self):
        with open(PLIST, "rb") as f:
            job = plistlib.load(f)
        self.assertEqual(job["Label"], SERVICE)
        self.assertEqual(job["MachServices"], {SERVICE: True})
        self.assertEqual(job["UserName"], "root")
        [program] = job["ProgramArguments"]
        self.assertTrue(program.startswith("/Library/PrivilegedHelperTools/"))


if __name__ == "__main__":
    PLIST = sys.argv.pop(1)
    unittest.main(verbosity=2)
