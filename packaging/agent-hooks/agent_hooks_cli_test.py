#!/usr/bin/env python3
"""Runs vesk-agent-hooks on realistic settings files in a throw-away HOME.

Usage: agent_hooks_cli_test.py PATH_TO_vesk-agent-hooks
"""
import glob
import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

TOOL = None

CLAUDE_SETTINGS = """{
  "$schema": "https://json.schemastore.org/claude-code-settings.json",
  "model": "opus",
  "permissions": {
    "allow": ["Bash(npm run lint)", "Bash(git diff:*)"],
    "deny": ["Read(./.env)"],
    "defaultMode": "acceptEdits"
  },
  "env": {"CLAUDE_CODE_ENABLE_TELEMETRY": "0"},
  "hooks": {
    "PostToolUse": [
      {"matcher": "Edit|Write",
       "hooks": [{"type": "command", "command": "npx prettier --write \\"$CLAUDE_PROJECT_DIR\\"", "timeout": 30}]}
    ],
    "Notification": [
      {"hooks": [{"type": "command", "command": "osascript -e 'display notification \\"Claude\\"'"}]}
    ],
    "Stop": [
      {"hooks": [{"type": "command", "command": "afplay /System/Library/Sounds/Glass.aiff"}]}
    ]
  },
  "statusLine": {"type": "command", "command": "~/.claude/statusline.sh", "padding": 0},
  "enabledPlugins": {"formatter@team": true},
  "cleanupPeriodDays": 30,
  "includeCoAuthoredBy": false
}
"""

CURSOR_HOOKS = """{
  "version": 1,
  "hooks": {
    "beforeShellExecution": [
      {"command": "./hooks/guard-shell.sh", "matcher": "rm -rf"}
    ],
    "afterFileEdit": [
      {"command": "./hooks/format.sh"}
    ]
  }
}
"""


def load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def our_commands(settings):
    """(event, matcher, command) of every VeskAgentBridge entry."""
    found = []
    for event, entries in settings.get("hooks", {}).items():
        for entry in entries:
            if "hooks" in entry:
                for hook in entry["hooks"]:
                    if "VeskAgentBridge" in hook.get("command", ""):
                        found.append((event, entry.get("matcher"), hook["command"]))
            elif "VeskAgentBridge" in entry.get("command", ""):
                found.append((event, None, entry["command"]))
    return found


def without_ours(settings):
    """The settings with our entries and the containers they alone filled
    taken out, in the original order."""
    result = json.loads(json.dumps(settings))
    hooks = result.get("hooks")
    if hooks is None:
        return result
    for event in list(hooks):
        kept = []
        for entry in hooks[event]:
            if "hooks" in entry:
                inner = [h for h in entry["hooks"]
                         if "VeskAgentBridge" not in h.get("command", "")]
                if inner:
                    entry["hooks"] = inner
                    kept.append(entry)
            elif "VeskAgentBridge" not in entry.get("command", ""):
                kept.append(entry)
        if kept:
            hooks[event] = kept
        else:
            del hooks[event]
    return result


class AgentHooksCli(unittest.TestCase):

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="vesk-hooks-home-")
        self.addCleanup(shutil.rmtree, self.home)
        self.bin = os.path.join(self.home, "opt", "bin")
        os.makedirs(self.bin)
        self.bridge = os.path.join(self.bin, "VeskAgentBridge")
        with open(self.bridge, "w") as f:
            f.write("#!/bin/sh\nexit 0\n")
        os.chmod(self.bridge, 0o755)
        self.claude = os.path.join(self.home, ".claude", "settings.json")
        self.cursor = os.path.join(self.home, ".cursor", "hooks.json")

    def write(self, path, text, mode=0o644):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        os.chmod(path, mode)

    def run_tool(self, *args, tool=None):
        env = dict(os.environ, HOME=self.home)
        return subprocess.run([tool or TOOL, *args], env=env,
                              capture_output=True, text=True, timeout=60)

    def install(self, *extra):
        return self.run_tool("install", "--bridge", self.bridge, *extra)

    def backups(self, path):
        return sorted(glob.glob(path + ".vesk-backup-*"))

    def template(self, agent):
        out = self.run_tool("print", "--agent", agent, "--bridge", self.bridge)
        self.assertEqual(out.returncode, 0, out.stderr)
        return json.loads(out.stdout)

    def test_install_keeps_everything_else_and_uninstall_restores_it(self):
        cases = [
            ("claude-code", self.claude, CLAUDE_SETTINGS, 0o600),
            ("cursor", self.cursor, CURSOR_HOOKS, 0o640),
        ]
        for agent, path, text, mode in cases:
            with self.subTest(agent=agent):
                self.write(path, text, mode)
                original = json.loads(text)

                out = self.run_tool("install", "--agent", agent,
                                    "--bridge", self.bridge)
                self.assertEqual(out.returncode, 0, out.stderr)
                installed = load(path)
                # Nothing else lost or moved: without our entries it is
                # the original, key order included.
                self.assertEqual(json.dumps(without_ours(installed)),
                                 json.dumps(original))
                # Every row of the table is there exactly once.
                self.assertEqual(sorted(our_commands(installed)),
                                 sorted(our_commands(self.template(agent))))
                # Foreign hooks keep their place before ours.
                for event, entries in original["hooks"].items():
                    self.assertEqual(installed["hooks"][event][:len(entries)],
                                     entries)
                self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), mode)
                self.assertTrue(read_bytes(path).startswith(b"{\n  \""))
                backups = self.backups(path)
                self.assertEqual(len(backups), 1)
                self.assertEqual(read_bytes(backups[0]), text.encode())
                self.assertEqual(stat.S_IMODE(os.stat(backups[0]).st_mode), mode)

                # Idempotent: a second run changes nothing, backs up nothing.
                before = read_bytes(path)
                mtime = os.stat(path).st_mtime_ns
                out = self.run_tool("install", "--agent", agent,
                                    "--bridge", self.bridge)
                self.assertEqual(out.returncode, 0, out.stderr)
                self.assertIn("already up to date", out.stdout)
                self.assertEqual(read_bytes(path), before)
                self.assertEqual(os.stat(path).st_mtime_ns, mtime)
                self.assertEqual(len(self.backups(path)), 1)

                out = self.run_tool("uninstall", "--agent", agent)
                self.assertEqual(out.returncode, 0, out.stderr)
                self.assertEqual(json.dumps(load(path)), json.dumps(original))
                self.assertEqual(our_commands(load(path)), [])
                self.assertEqual(len(self.backups(path)), 2)
                self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), mode)

                out = self.run_tool("uninstall", "--agent", agent)
                self.assertEqual(out.returncode, 0, out.stderr)
                self.assertEqual(len(self.backups(path)), 2)

    def test_unusable_settings_are_refused_and_nothing_changes(self):
        cases = [
            ("trailing comma", '{"model": "opus",}\n', "line 1"),
            ("comment", '{\n  // mine\n  "model": "opus"\n}\n', "line 2"),
            ("truncated", '{"hooks": {"Stop": [', "cannot parse"),
            ("not an object", '["hooks"]\n', "does not hold a JSON object"),
            ("hooks not an object", '{"hooks": []}\n', '"hooks" is not'),
            ("event not an array", '{"hooks": {"Stop": {}}}\n', "Stop"),
        ]
        for name, text, message in cases:
            for command in (["install", "--bridge", self.bridge],
                            ["uninstall"]):
                with self.subTest(case=name, command=command[0]):
                    shutil.rmtree(os.path.join(self.home, ".claude"),
                                  ignore_errors=True)
                    shutil.rmtree(os.path.join(self.home, ".cursor"),
                                  ignore_errors=True)
                    self.write(self.claude, text, 0o600)
                    # The other agent's file is fine but must stay as well.
                    self.write(self.cursor, CURSOR_HOOKS)
                    out = self.run_tool(*command)
                    self.assertEqual(out.returncode, 1)
                    self.assertIn(self.claude, out.stderr)
                    self.assertIn(message, out.stderr)
                    self.assertIn("Nothing was changed", out.stderr)
                    self.assertEqual(read_bytes(self.claude), text.encode())
                    self.assertEqual(read_bytes(self.cursor),
                                     CURSOR_HOOKS.encode())
                    self.assertEqual(self.backups(self.claude), [])
                    self.assertEqual(self.backups(self.cursor), [])
                    self.assertEqual(
                        sorted(os.listdir(os.path.dirname(self.claude))),
                        ["settings.json"])

    def test_missing_files_and_folders(self):
        os.makedirs(os.path.dirname(self.claude))
        out = self.install()
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("skipped", out.stdout)
        self.assertFalse(os.path.exists(os.path.dirname(self.cursor)))
        self.assertEqual(load(self.claude), self.template("claude-code"))
        self.assertEqual(self.backups(self.claude), [])

        old = os.umask(0o022)
        try:
            out = self.install("--agent", "cursor")
        finally:
            os.umask(old)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(read_bytes(self.cursor),
                         json.dumps(self.template("cursor"), indent=2)
                         .encode() + b"\n")
        self.assertEqual(stat.S_IMODE(os.stat(self.cursor).st_mode), 0o644)

    def test_blank_file_counts_as_empty_settings(self):
        self.write(self.claude, "\n  \n", 0o600)
        out = self.install("--agent", "claude-code")
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(load(self.claude), self.template("claude-code"))
        self.assertEqual(stat.S_IMODE(os.stat(self.claude).st_mode), 0o600)
        self.assertEqual(read_bytes(self.backups(self.claude)[0]), b"\n  \n")

    def test_disabled_hooks_are_pointed_out(self):
        for value, noted in ((True, True), (False, False)):
            with self.subTest(disableAllHooks=value):
                self.write(self.claude, json.dumps({"disableAllHooks": value}))
                out = self.install("--agent", "claude-code")
                self.assertEqual(out.returncode, 0, out.stderr)
                self.assertEqual("disableAllHooks" in out.stdout, noted)
                self.assertIs(load(self.claude)["disableAllHooks"], value)

    def test_stale_entries_are_replaced_not_duplicated(self):
        old_bridge = "/Applications/Vesk.app/Contents/MacOS/VeskAgentBridge"
        text = json.dumps({"hooks": {
            "Stop": [
                {"hooks": [{"type": "command",
                            "command": old_bridge + " 'Claude Code' idle"},
                           {"type": "command", "command": "say done"}]}],
            "PreToolUse": [
                {"matcher": "*", "hooks": [
                    {"type": "command",
                     "command": old_bridge + " 'Claude Code' working"}]}],
        }}, indent=2)
        self.write(self.claude, text)
        out = self.install("--agent", "claude-code")
        self.assertEqual(out.returncode, 0, out.stderr)
        settings = load(self.claude)
        self.assertEqual(sorted(our_commands(settings)),
                         sorted(our_commands(self.template("claude-code"))))
        self.assertEqual(settings["hooks"]["Stop"][0],
                         {"hooks": [{"type": "command", "command": "say done"}]})
        self.assertNotIn("*", [e.get("matcher")
                               for e in settings["hooks"]["PreToolUse"]])

    def test_symbolic_link_stays_a_link(self):
        dotfiles = os.path.join(self.home, "dotfiles")
        os.makedirs(dotfiles)
        target = os.path.join(dotfiles, "claude-settings.json")
        self.write(target, CLAUDE_SETTINGS)
        os.makedirs(os.path.dirname(self.claude))
        os.symlink(target, self.claude)
        out = self.install("--agent", "claude-code")
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertTrue(os.path.islink(self.claude))
        self.assertNotEqual(our_commands(load(target)), [])
        self.assertEqual(len(self.backups(target)), 1)

    def test_bridge_path_is_checked(self):
        elsewhere = os.path.join(self.home, "opt", "other")
        with open(elsewhere, "w") as f:
            f.write("#!/bin/sh\n")
        os.chmod(elsewhere, 0o755)
        not_executable = os.path.join(self.home, "VeskAgentBridge")
        with open(not_executable, "w") as f:
            f.write("")
        cases = [
            ("relative", "bin/VeskAgentBridge", "absolute"),
            ("missing", "/nonexistent/VeskAgentBridge", "no executable"),
            ("other name", elsewhere, "must be named"),
            ("not executable", not_executable, "no executable"),
        ]
        self.write(self.claude, CLAUDE_SETTINGS)
        for name, bridge, message in cases:
            with self.subTest(case=name):
                out = self.run_tool("install", "--bridge", bridge)
                self.assertEqual(out.returncode, 1)
                self.assertIn(message, out.stderr)
                self.assertEqual(read_bytes(self.claude),
                                 CLAUDE_SETTINGS.encode())

    def test_default_bridge_is_the_one_next_to_the_installer(self):
        spaced = os.path.join(self.home, "Vesk Tools")
        os.makedirs(spaced)
        tool = os.path.join(spaced, "vesk-agent-hooks")
        shutil.copy2(TOOL, tool)
        bridge = os.path.join(spaced, "VeskAgentBridge")
        shutil.copy2(self.bridge, bridge)
        self.write(self.cursor, CURSOR_HOOKS)
        out = self.run_tool("install", "--agent", "cursor", tool=tool)
        self.assertEqual(out.returncode, 0, out.stderr)
        commands = {c for _, _, c in our_commands(load(self.cursor))}
        self.assertEqual(commands, {"'%s' Cursor working" % bridge,
                                    "'%s' Cursor idle" % bridge})
        out = self.run_tool("uninstall", "--agent", "cursor", tool=tool)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(json.dumps(load(self.cursor)),
                         json.dumps(json.loads(CURSOR_HOOKS)))

    def test_usage_errors(self):
        for args in ([], ["frobnicate"], ["install", "--agent", "vim"],
                     ["install", "--bridge"], ["print"]):
            with self.subTest(args=args):
                out = self.run_tool(*args)
                self.assertEqual(out.returncode, 2)
                self.assertIn("usage", out.stderr + out.stdout)


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
