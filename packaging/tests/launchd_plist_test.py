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

    def setUp(self):
        with open(PLIST, "rb") as f:
            self.job = plistlib.load(f)

    def test_names_the_mach_service_and_runs_as_root(self):
        expected = [
            ("Label", SERVICE),
            ("MachServices", {SERVICE: True}),
            ("UserName", "root"),
            ("RunAtLoad", True),
            ("KeepAlive", {"SuccessfulExit": False}),
        ]
        for key, value in expected:
            with self.subTest(key=key):
                self.assertEqual(self.job.get(key), value)

    def test_program_is_an_absolute_path_without_arguments(self):
        args = self.job["ProgramArguments"]
        self.assertEqual(len(args), 1)
        self.assertTrue(args[0].startswith("/Library/PrivilegedHelperTools/"))
        self.assertNotIn("Program", self.job)

    def test_only_known_keys(self):
        known = {"Label", "ProgramArguments", "MachServices", "UserName",
                 "GroupName", "RunAtLoad", "KeepAlive", "ProcessType"}
        self.assertLessEqual(set(self.job), known)


if __name__ == "__main__":
    PLIST = sys.argv.pop(1)
    unittest.main(verbosity=2)
