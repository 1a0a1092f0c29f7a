#!/usr/bin/env python3
"""Runs vesk-agent-hooks on realistic settings files in a throw-away HOME.

Usage: agent_hooks_cli_test.py PATH_TO_vesk-agent-hooks VERSION
"""
import atexit
import glob
import json
import os
import re
import resource
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

TOOL = None
VERSION = None
IS_ROOT = os.geteuid() == 0
UNSET = object()
NOBODY = 65534  # its password entry's home, /nonexistent, holds nothing
FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures")

CLAUDE_SETTINGS = """{
  "$schema": "https://json.schemastore.org/claude-code-settings.json", "model": "opus",
  "permissions": {"allow": ["Bash(npm run lint)"], "deny": ["Read(./.env)"]},
  "hooks": {"PostToolUse": [{"matcher": "Edit|Write", "hooks": [{"type": "command",
      "command": "npx prettier --write \\"$CLAUDE_PROJECT_DIR\\"", "timeout": 30}]}],
    "Stop": [{"hooks": [{"type": "command", "command": "afplay /System/Library/Sounds/Glass.aiff"}]}]},
  "statusLine": {"type": "command", "command": "~/.claude/statusline.sh"}, "includeCoAuthoredBy": false
}
"""
CURSOR_HOOKS = """{"version": 1, "hooks": {
  "beforeShellExecution": [{"command": "./hooks/guard-shell.sh", "matcher": "rm -rf"}],
  "afterFileEdit": [{"command": "./hooks/format.sh"}]}}
"""


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def load(path):
    return json.loads(read_bytes(path))


def snapshot(top):
    """Every path under `top` with its mode, owner and content or link."""
    state = {}
    for folder, dirs, files in os.walk(top):
        for name in dirs + files:
            path = os.path.join(folder, name)
            st = os.lstat(path)
            content = (os.readlink(path) if stat.S_ISLNK(st.st_mode) else
                       read_bytes(path) if stat.S_ISREG(st.st_mode) else None)
            state[path] = (st.st_mode, st.st_uid, content)
    return state


def remove_tree(top):
    for folder, dirs, _ in os.walk(top):
        for name in dirs:
            if not os.path.islink(os.path.join(folder, name)):
                os.chmod(os.path.join(folder, name), 0o755)
    shutil.rmtree(top, ignore_errors=True)


def ours(hook):
    return "VeskAgentBridge" in hook.get("command", "")


def our_commands(settings):
    """(event, matcher, command) of every VeskAgentBridge entry, sorted."""
    return sorted((event, entry.get("matcher"), hook["command"])
                  for event, entries in settings["hooks"].items()
                  for entry in entries
                  for hook in entry.get("hooks", [entry]) if ours(hook))


class AgentHooksCli(unittest.TestCase):

    def setUp(self):
        # The home and a folder beside it, so that writes outside the home
        # show too.
        self.top = tempfile.mkdtemp(prefix="vesk-hooks-")
        os.chmod(self.top, 0o755)
        self.addCleanup(remove_tree, self.top)
        self.home = os.path.join(self.top, "home")
        self.elsewhere = os.path.join(self.top, "elsewhere")
        self.bridge = os.path.join(self.top, "bin", "VeskAgentBridge")
        self.write(self.bridge, "#!/bin/sh\n", 0o755)
        self.claude = os.path.join(self.home, ".claude", "settings.json")
        self.cursor = os.path.join(self.home, ".cursor", "hooks.json")

    def write(self, path, text, mode=0o644):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        os.chmod(path, mode)

    def run_tool(self, *args, home=None, user=None, allow_root=True,
                 path=None, preexec_fn=None, binary=False):
        """Runs the tool with HOME `home` (None: the test's, UNSET: none).

        The tool refuses root without --allow-root, and CI runs as root.
        `path` puts a folder first on PATH (for a stand-in claude)."""
        env = {k: v for k, v in os.environ.items() if k != "HOME"}
        if home is not UNSET:
            env["HOME"] = self.home if home is None else home
        if path is not None:
            env["PATH"] = path + ":" + env.get("PATH", "/usr/bin:/bin")
        if allow_root and IS_ROOT and user is None:
            args = ("--allow-root",) + args
        return subprocess.run([TOOL, *args], env=env, user=user,
                              cwd=self.top, capture_output=True,
                              text=not binary, timeout=60,
                              preexec_fn=preexec_fn)

    def run_ok(self, *args):
        out = self.run_tool(*args)
        self.assertEqual(out.returncode, 0, out.stderr)
        return out

    def assertMode(self, path, mode):
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), mode, path)

    def backups(self, path):
        return sorted(glob.glob(path + ".vesk-backup-*"))

    def test_install_keeps_everything_else_and_uninstall_restores_it(self):
        # A private settings file (it may hold tokens) stays private, and so
        # do its backups.
        for agent, path, text, mode in (
                ("claude-code", self.claude, CLAUDE_SETTINGS, 0o600),
                ("cursor", self.cursor, CURSOR_HOOKS, 0o644)):
            with self.subTest(agent=agent):
                self.write(path, text, mode)
                original = json.loads(text)
                install = ("install", "--agent", agent, "--bridge", self.bridge)
                self.run_ok(*install)
                # Everything else survives: uninstall below gives back the
                # original, key order included.
                template = json.loads(self.run_ok(
                    "print", "--agent", agent, "--bridge", self.bridge).stdout)
                self.assertEqual(our_commands(load(path)),
                                 our_commands(template))
                [backup] = self.backups(path)
                self.assertEqual(read_bytes(backup), text.encode())

                # A second run changes nothing and backs up nothing.
                before = read_bytes(path)
                self.run_ok(*install)
                self.assertEqual(read_bytes(path), before)
                self.assertEqual(len(self.backups(path)), 1)

                self.run_ok("uninstall", "--agent", agent)
                self.assertEqual(json.dumps(load(path)), json.dumps(original))
                self.assertEqual(len(self.backups(path)), 2)
                for name in [path] + self.backups(path):
                    self.assertMode(name, mode)
                self.run_ok("uninstall", "--agent", agent)
                self.assertEqual(len(self.backups(path)), 2)

    def test_refusals_change_nothing_anywhere(self):
        def dangling(path):
            if os.path.isdir(path):
                remove_tree(path)
            else:
                os.remove(path)
            os.symlink(os.path.join(self.elsewhere, "dotfiles", "x"), path)

        def claude_text(text):
            return lambda: self.write(self.claude, text)

        claude_dir = os.path.dirname(self.claude)
        # (case, HOME, fault, extra arguments, message). The HOME cases run
        # as a user whose password entry names no usable home, so that a
        # fallback to it shows as success rather than writing anywhere.
        cases = [
            ("trailing comma", None, claude_text('{"model": "opus",}\n'), [],
             "line 1"),
            ("comment", None,
             claude_text('{\n  // mine\n  "model": "opus"\n}\n'), [], "line 2"),
            ("cut short", None, claude_text('{"hooks": {"Stop": ['), [],
             "cannot parse"),
            ("hooks an array", None, claude_text('{"hooks": []}\n'), [],
             '"hooks" is not'),
            ("event an object", None, claude_text('{"hooks": {"Stop": {}}}'),
             [], "Stop"),
            ("HOME unset", UNSET, None, [], "HOME is not set"),
            ("HOME empty", "", None, [], "HOME is not set"),
            ("HOME relative", "home", None, [], "not an absolute path"),
            ("HOME missing", os.path.join(self.top, "gone"), None,
             ["--agent", "claude-code"], "HOME is not a folder"),
            ("settings.json a link to nothing", None,
             lambda: dangling(self.claude), [], "which does not exist"),
            ("~/.claude a link to nothing", None, lambda: dangling(claude_dir),
             ["--agent", "claude-code"], "which does not exist"),
            ("hooks.json read-only", None, lambda: os.chmod(self.cursor, 0o444),
             [], "hooks.json is read-only"),
            ("~/.cursor read-only", None,
             lambda: os.chmod(os.path.dirname(self.cursor), 0o555), [],
             ".cursor is read-only"),
        ]
        for case, home, fault, extra, message in cases:
            for command in (["install", "--bridge", self.bridge], ["uninstall"]):
                with self.subTest(case=case, command=command[0]):
                    if home is not None and not IS_ROOT:
                        self.skipTest("a HOME fallback would reach your home")
                    remove_tree(self.home)
                    remove_tree(self.elsewhere)
                    self.write(self.claude, CLAUDE_SETTINGS)
                    self.write(self.cursor, CURSOR_HOOKS)
                    if command[0] == "uninstall":
                        self.run_ok("install", "--bridge", self.bridge)
                    if fault:
                        fault()
                    before = snapshot(self.top)
                    out = self.run_tool(*command, *extra, home=home,
                                        user=None if home is None else NOBODY)
                    self.assertEqual(out.returncode, 1, out.stdout)
                    self.assertEqual(snapshot(self.top), before)
                    self.assertIn(message, out.stderr)
                    self.assertIn("Nothing was changed", out.stderr)

    def test_settings_behind_links_change_where_they_live(self):
        # A relative link into a dotfiles folder, and a chain of two links.
        dotfiles = os.path.join(self.elsewhere, "dotfiles")
        claude_file = os.path.join(dotfiles, "claude.json")
        cursor_file = os.path.join(dotfiles, "cursor.json")
        self.write(claude_file, CLAUDE_SETTINGS, 0o600)
        self.write(cursor_file, CURSOR_HOOKS, 0o640)
        middle = os.path.join(self.elsewhere, "cursor-link")
        os.symlink(cursor_file, middle)
        for link, target in ((self.claude, os.path.join("..", "..", "elsewhere",
                                                        "dotfiles", "claude.json")),
                             (self.cursor, middle)):
            os.makedirs(os.path.dirname(link))
            os.symlink(target, link)
        links = {p: os.readlink(p) for p in (self.claude, self.cursor, middle)}
        for command in (["install", "--bridge", self.bridge], ["uninstall"]):
            self.run_ok(*command)
            self.assertEqual({p: os.readlink(p) for p in links}, links)
            for path, text, mode in ((claude_file, CLAUDE_SETTINGS, 0o600),
                                     (cursor_file, CURSOR_HOOKS, 0o640)):
                self.assertMode(path, mode)
                self.assertEqual(load(path) == json.loads(text),
                                 command[0] == "uninstall")
        self.assertEqual(len(self.backups(claude_file)), 2)
        self.assertEqual(len(self.backups(cursor_file)), 2)

    def test_command_line(self):
        usage = "usage: vesk-agent-hooks"
        # (arguments, exit status, text in standard output, text in standard
        # error); "" where that stream must stay empty. A usage error also
        # prints the usage on standard error.
        cases = [
            (["--help"], 0, usage, ""),
            (["install", "-h"], 0, usage, ""),
            (["--version"], 0, "vesk-agent-hooks %s\n" % VERSION, ""),
            ([], 2, "", "no command given"),
            (["frobnicate"], 2, "", 'unknown command "frobnicate"'),
            (["install", "--agent", "vim"], 2, "", 'unknown agent "vim"'),
            (["install", "--bridge"], 2, "", "--bridge needs a value"),
            (["install", "--force"], 2, "", 'unknown argument "--force"'),
            (["print"], 2, "", "print needs --agent"),
            (["print", "--agent", "cursor", "--dry-run"], 2, "", "--dry-run"),
            (["print", "--agent=cursor", "--bridge=" + self.bridge], 0,
             '"version": 1', ""),
            (["print", "--agent", "cursor", "--bridge", "--help"], 1, "",
             "--bridge must be absolute: --help"),
            (["print", "--agent", "cursor", "--bridge",
              "/nowhere/VeskAgentBridge"], 1, "", "no executable"),
            (["--", "--help"], 2, "", 'unknown command "--help"'),
            (["install", "--claude-version", "new"], 2, "", "--claude-version"),
            (["install", "--agent"], 2, "", "--agent needs a value"),
        ]
        self.write(self.claude, CLAUDE_SETTINGS)
        before = snapshot(self.top)
        for args, status, stdout, stderr in cases:
            with self.subTest(args=args):
                out = self.run_tool(*args, allow_root=False)
                self.assertEqual(out.returncode, status)
                for got, want in ((out.stdout, stdout), (out.stderr, stderr)):
                    if want:
                        self.assertIn(want, got)
                    else:
                        self.assertEqual(got, "")
                if status == 2:
                    self.assertIn(usage, out.stderr)
                self.assertEqual(snapshot(self.top), before)

    def test_fixtures_edit_in_place_and_dry_run_patches(self):
        # Every fixture: the dry run's diff, applied by patch, gives what the
        # command writes; uninstall after install gives back every byte.
        for name in sorted(os.listdir(FIXTURES)):
            if not name.endswith(".json"):
                continue
            agents = (["claude-code"] if name.startswith("claude") else
                      ["cursor"] if name.startswith("cursor") else
                      ["claude-code", "cursor"])
            for agent in agents:
                with self.subTest(fixture=name, agent=agent):
                    path = self.claude if agent == "claude-code" else self.cursor
                    remove_tree(self.home)
                    original = read_bytes(os.path.join(FIXTURES, name))
                    self.write(path, "")
                    with open(path, "wb") as f:
                        f.write(original)
                    before = original
                    for command in (["install", "--bridge", self.bridge],
                                    ["uninstall"]):
                        args = (*command, "--agent", agent,
                                "--claude-version", "2.1.78")
                        if command[0] == "uninstall":
                            args = (*command, "--agent", agent)
                        # Bytes: the diff of a CRLF file carries CRs.
                        dry = self.run_tool(*args, "--dry-run", binary=True)
                        self.assertEqual(dry.returncode, 0, dry.stderr)
                        patched = os.path.join(self.top, "patched")
                        with open(patched, "wb") as f:
                            f.write(before)
                        subprocess.run(["patch", "-s", "--binary", "-o", patched + ".out",
                                        patched], input=dry.stdout,
                                       check=True, capture_output=True)
                        self.run_ok(*args)
                        after = read_bytes(path)
                        self.assertEqual(read_bytes(patched + ".out"), after)
                        os.remove(patched + ".out")
                        before = after
                    # Stale entries of ours go for good, and a Cursor file
                    # keeps the "version" its hooks needed.
                    if "old-install" not in name and "no-version" not in name:
                        self.assertEqual(read_bytes(path), original)

    def test_what_is_not_a_settings_file_is_refused_unread(self):
        def fifo():
            os.mkfifo(self.claude)

        def zero():
            os.symlink("/dev/zero", self.claude)

        def folder():
            os.mkdir(self.claude)

        def huge():
            self.write(self.claude, '{"x": "' + "a" * (5 << 20) + '"}')

        def cursor_comments():
            self.write(self.cursor, '{\n  // mine\n  "version": 1\n}\n')

        cases = [(fifo, "not a regular file"), (zero, "not a regular file"),
                 (folder, "not a regular file"), (huge, "larger than"),
                 (cursor_comments, "without comments")]
        for fault, message in cases:
            with self.subTest(fault=fault.__name__):
                remove_tree(self.home)
                os.makedirs(os.path.dirname(self.claude))
                os.makedirs(os.path.dirname(self.cursor))
                fault()
                before = snapshot(self.top)
                out = self.run_tool("install", "--bridge", self.bridge)
                self.assertEqual(out.returncode, 1, out.stdout)
                self.assertIn(message, out.stderr)
                self.assertIn("Nothing was changed", out.stderr)
                self.assertEqual(snapshot(self.top), before)

    def test_backup_reported_is_kept_and_leftovers_are_removed(self):
        self.write(self.cursor, CURSOR_HOOKS)
        folder = os.path.dirname(self.cursor)
        later = ["hooks.json.vesk-backup-29990101T000000Z",
                 "hooks.json.vesk-backup-29990101T000000Z-1",
                 "hooks.json.vesk-backup-29990102T000000Z"]
        gone = subprocess.run(["true"]).returncode  # a pid now free
        dead = subprocess.Popen(["true"])
        dead.wait()
        leftovers = ["hooks.json.vesk-tmp-%d-aB3dE6" % dead.pid,
                     "hooks.json.vesk-Xy12Zq"]
        alive = ["hooks.json.vesk-tmp-%d-aB3dE6" % os.getpid(),
                 "other.json.vesk-tmp-%d-aB3dE6" % dead.pid]
        for name in later + leftovers + alive:
            self.write(os.path.join(folder, name), "{}" * gone)
        out = self.run_ok("install", "--agent", "cursor", "--bridge",
                          self.bridge)
        backup = re.search(r"\(backup: (.*)\)", out.stdout).group(1)
        self.assertEqual(read_bytes(backup), CURSOR_HOOKS.encode())
        names = set(os.listdir(folder))
        self.assertFalse(names & set(leftovers), names)
        self.assertTrue(set(alive) <= names, names)
        self.assertEqual(len(self.backups(self.cursor)), 3)

    def test_a_failed_write_leaves_every_file_as_it_was(self):
        # A file-size limit below the settings' size fails the backup's
        # write; without SIGXFSZ ignored it would kill the tool mid-way.
        self.write(self.claude, CLAUDE_SETTINGS)
        self.write(self.cursor, CURSOR_HOOKS)
        before = snapshot(self.top)
        limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (100, 100))
        out = self.run_tool("install", "--bridge", self.bridge,
                            preexec_fn=limit)
        self.assertEqual(out.returncode, 1, out.stdout)
        self.assertIn("Nothing was changed", out.stderr)
        self.assertEqual(snapshot(self.top), before)

    def test_claude_entries_follow_the_claude_version(self):
        stand_in = os.path.join(self.top, "claude-bin")

        def claude(output):
            self.write(os.path.join(stand_in, "claude"),
                       "#!/bin/sh\nprintf '%s'\n" % output, 0o755)

        # (claude --version prints, arguments, status, events written,
        # events left out, text on standard error)
        cases = [
            (None, [], 0, ["SessionEnd"], ["PermissionRequest", "StopFailure"],
             "--claude-version"),
            ("2.1.20 (Claude Code)", [], 0, ["PermissionRequest"],
             ["PostToolUseFailure", "StopFailure"], "StopFailure (2.1.78)"),
            ("2.1.20 (Claude Code)", ["--claude-version=2.1.78"], 0,
             ["StopFailure"], [], ""),
            ("1.0.30 (Claude Code)", [], 1, [], [], "older than 1.0.41"),
        ]
        for output, extra, status, present, absent, message in cases:
            with self.subTest(output=output, extra=extra):
                remove_tree(stand_in)
                os.makedirs(stand_in)
                if output is not None:
                    claude(output)
                out = self.run_tool("print", "--agent", "claude-code",
                                    "--bridge", self.bridge, *extra,
                                    path=stand_in)
                self.assertEqual(out.returncode, status, out.stderr)
                self.assertIn(message, out.stderr)
                events = json.loads(out.stdout)["hooks"] if status == 0 else {}
                for event in present:
                    self.assertIn(event, events)
                for event in absent:
                    self.assertNotIn(event, events)

    def test_install_without_agent_folders_says_so(self):
        os.makedirs(self.home)
        before = snapshot(self.top)
        out = self.run_tool("install", "--bridge", self.bridge)
        self.assertEqual(out.returncode, 3, out.stdout)
        self.assertIn("no agent found", out.stderr)
        self.assertEqual(snapshot(self.top), before)

    @unittest.skipUnless(IS_ROOT, "runs the tool as root")
    def test_root_changes_nothing_its_user_could_not(self):
        owner = 12345
        outside = os.path.join(self.elsewhere, "root-owned")
        os.makedirs(outside)
        os.makedirs(self.home)
        os.symlink(outside, os.path.join(self.home, ".claude"))
        os.chown(self.home, owner, owner)
        before = snapshot(self.top)
        out = self.run_tool("install", "--agent", "claude-code", "--bridge",
                            self.bridge)
        self.assertEqual(out.returncode, 1, out.stdout)
        self.assertIn("Nothing was changed", out.stderr)
        self.assertEqual(snapshot(self.top), before)

    def test_dry_run_shows_the_change_and_changes_nothing(self):
        self.write(self.claude, CLAUDE_SETTINGS)
        # The Stop entry, as a line the change adds or removes.
        entry = "\\s+\"command\": \"%s 'Claude Code' idle\"," % re.escape(
            self.bridge)
        for command, sign in ((["install", "--bridge", self.bridge], "+"),
                              (["uninstall"], "-")):
            with self.subTest(command=command[0]):
                before = snapshot(self.top)
                out = self.run_ok(*command, "--dry-run")
                self.assertEqual(snapshot(self.top), before)
                self.assertIn("--- %s\n+++ %s\n@@ " % (self.claude, self.claude),
                              out.stdout)
                self.assertRegex(out.stdout, re.compile(
                    "^" + re.escape(sign) + entry, re.M))
                self.assertIn("nothing was changed", out.stdout)
                self.run_ok(*command)

    def test_backups_beyond_the_newest_three_are_removed(self):
        self.write(self.cursor, CURSOR_HOOKS)  # and no ~/.claude
        folder = os.path.dirname(self.cursor)
        # Oldest first; the counter is a number, so -2 comes before -10.
        old = ["hooks.json.vesk-backup-20200101T000000Z-2",
               "hooks.json.vesk-backup-20200101T000000Z-10",
               "hooks.json.vesk-backup-20200102T000000Z"]
        others = ["hooks.json.vesk-backup-20190101T000000Z.orig",
                  "hooks.json.vesk-backup-20190101T000000Z-100",
                  "hooks.json.vesk-backup-2019", "hooks.json.vesk-backup-",
                  "old-hooks.json.vesk-backup-20190101T000000Z"]
        for name in old + others:
            self.write(os.path.join(folder, name), "{}")
        out = self.run_ok("install", "--bridge", self.bridge)
        # --agent all (the default) leaves a missing agent folder missing.
        self.assertFalse(os.path.lexists(os.path.dirname(self.claude)))
        self.assertIn("skipped", out.stdout)
        new = [name for name in os.listdir(folder)
               if name not in old + others + ["hooks.json"]]
        self.assertEqual(len(new), 1, new)
        self.assertEqual(sorted(os.listdir(folder)),
                         sorted(old[1:] + others + new + ["hooks.json"]))

    @unittest.skipUnless(IS_ROOT, "runs the tool as root")
    def test_root_needs_allow_root_and_keeps_the_owner(self):
        owner = 12345
        self.write(self.cursor, CURSOR_HOOKS, 0o600)
        for folder, dirs, files in os.walk(self.home):
            for name in [folder] + [os.path.join(folder, n) for n in files]:
                os.chown(name, owner, owner)
        before = snapshot(self.top)
        out = self.run_tool("install", "--bridge", self.bridge, allow_root=False)
        self.assertEqual(out.returncode, 1)
        self.assertIn("--allow-root", out.stderr)
        self.assertIn("Nothing was changed", out.stderr)
        self.assertEqual(snapshot(self.top), before)

        out = self.run_ok("install", "--bridge", self.bridge)
        self.assertIn("changing the settings in HOME=" + self.home, out.stderr)
        self.run_ok("install", "--agent", "claude-code", "--bridge", self.bridge)
        [backup] = self.backups(self.cursor)
        for path in (self.cursor, backup, os.path.dirname(self.claude),
                     self.claude):
            self.assertEqual(os.stat(path).st_uid, owner, path)


def reachable_copy(path):
    """A copy of the tool that another user can run, with its folder
    removed at exit: the build folder may lie in a private checkout."""
    folder = tempfile.mkdtemp(dir="/tmp")
    os.chmod(folder, 0o755)
    atexit.register(shutil.rmtree, folder, True)
    return shutil.copy2(path, folder)


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    if IS_ROOT:
        TOOL = reachable_copy(TOOL)
    VERSION = sys.argv.pop(1)
    unittest.main(verbosity=2)
