#!/usr/bin/env python3
"""Checks the service definitions the builds ship for the daemon: the
launchd jobs of the Apple build (the /Library/LaunchDaemons job, and the
app bundle's job in bundle/ beside it) and the systemd unit of the Linux
build.

Usage: launchd_plist_test.py PATH_TO_PLIST PATH_TO_SERVICE_UNIT
"""
import os
import plistlib
import sys
import unittest

PLIST = None
UNIT = None
SERVICE = "com.vesk.Vesk.break-security"


def load_job(path=None):
    with open(path or PLIST, "rb") as f:
        return plistlib.load(f)


def bundle_job_path():
    return os.path.join(os.path.dirname(PLIST), "bundle",
                        os.path.basename(PLIST))


def all_jobs():
    return {"LaunchDaemons": load_job(), "bundle": load_job(bundle_job_path())}


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
        # Its name and service: test_every_job_serves_the_same_name_and_restarts.
        job = load_job()
        self.assertEqual(job["UserName"], "root")
        [program] = job["ProgramArguments"]
        self.assertTrue(program.startswith("/Library/PrivilegedHelperTools/"))

    def test_bundle_job_runs_the_helper_from_the_app_bundle(self):
        # SMAppService takes the program relative to the bundle; a job
        # that also named an absolute program would not follow the app.
        job = load_job(bundle_job_path())
        self.assertEqual(job["BundleProgram"],
                         "Contents/MacOS/VeskBreakSecurityHelper")
        self.assertNotIn("Program", job)
        self.assertNotIn("ProgramArguments", job)

    def test_every_job_serves_the_same_name_and_restarts(self):
        # Each start puts back a setting that an earlier run left in
        # force, so the job starts at load and again after a crash.
        for where, job in all_jobs().items():
            with self.subTest(job=where):
                self.assertEqual(job["Label"], SERVICE)
                self.assertEqual(job["MachServices"], {SERVICE: True})
                self.assertIs(job["RunAtLoad"], True)
                self.assertEqual(job.get("KeepAlive"),
                                 {"SuccessfulExit": False})

    def test_every_job_is_boosted_only_while_serving(self):
        # Interactive would run the idle helper at app priority for good.
        for where, job in all_jobs().items():
            with self.subTest(job=where):
                self.assertEqual(job.get("ProcessType"), "Adaptive")

    def test_launch_daemons_job_is_shown_under_the_app(self):
        # Without it, Login Items lists the helper's own file name.
        self.assertEqual(load_job().get("AssociatedBundleIdentifiers"),
                         ["com.vesk.Vesk"])


class StoppedDaemonLeavesNoChild(unittest.TestCase):
    """A power-management tool left running by a killed daemon could write
    the setting after the next start's recovery has put it back, so the
    service manager must end the daemon's whole group with it."""

    def test_launchd_kills_the_job_s_process_group(self):
        for where, job in all_jobs().items():
            with self.subTest(job=where):
                self.assertIs(job.get("AbandonProcessGroup", False), False)

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
