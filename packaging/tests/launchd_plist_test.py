#!/usr/bin/env python3
"""Checks the service definitions the builds ship for the daemon: the
launchd job of the Apple build and the systemd unit of the Linux build.

Usage: launchd_plist_test.py PATH_TO_PLIST PATH_TO_SERVICE_UNIT
"""
import plistlib
import sys
import unittest

PLIST = None
UNIT = None
SERVICE = "com.vesk.Vesk.break-security"


def load_job():
    with open(PLIST, "rb") as f:
        return plistlib.load(f)


def service_settings():
    """The [Service] section of the unit as (key, value) pairs, in order."""
    settings, section = [], None
    with open(UNIT) as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith(("#", ";")):
                continue
            if line.startswith("["):
                section = line
            elif section == "[Service]":
                key, _, value = line.partition("=")
                settings.append((key.strip(), value.strip()))
    return settings


class LaunchdJob(unittest.TestCase):

    def test_names_the_mach_service_and_runs_as_root(self):
        job = load_job()
        self.assertEqual(job["Label"], SERVICE)
        self.assertEqual(job["MachServices"], {SERVICE: True})
        self.assertEqual(job["UserName"], "root")
        [program] = job["ProgramArguments"]
        self.assertTrue(program.startswith("/Library/PrivilegedHelperTools/"))


class StoppedDaemonLeavesNoChild(unittest.TestCase):
    """A power-management tool left running by a killed daemon could write
    the setting after the next start's recovery has put it back, so the
    service manager must end the daemon's whole group with it."""

    def test_launchd_kills_the_job_s_process_group(self):
        self.assertIs(load_job().get("AbandonProcessGroup", False), False)

    def test_systemd_kills_the_whole_control_group(self):
        settings = dict(service_settings())
        self.assertIn(settings.get("KillMode", "control-group"),
                      ("control-group", ""))
        self.assertNotIn(settings.get("SendSIGKILL", "yes"),
                         ("no", "false", "off", "0"))


if __name__ == "__main__":
    UNIT = sys.argv.pop(2)
    PLIST = sys.argv.pop(1)
    unittest.main(verbosity=2)
