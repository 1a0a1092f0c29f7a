#!/usr/bin/env python3
"""Runs vesk-agent-hooks on realistic settings files in a throw-away HOME.

Usage: agent_hooks_cli_test.py PATH_TO_vesk-agent-hooks
"""
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

TOOL = None

CLAUDE_SETTINGS = """{
  "$schema": "https://json.schemastore.org/claude-code-settings.json",
  "model": "opus",
  "permissions": {"allow": ["Bash(npm run lint)"], "deny": ["Read(./.env)"]},
  "env": {"CLAUDE_CODE_ENABLE_TELEMETRY": "0"},
  "hooks": {
    "PostToolUse": [
      {"matcher": "Edit|Write",
       "hooks": [{"type": "command", "command": "npx prettier --write \\"$CLAUDE_PROJECT_DIR\\"", "timeout": 30}]}
    ],
    "Stop": [{"hooks": [{"type": "command", "command": "afplay /System/Library/Sounds/Glass.aiff"}]}]
  },
  "statusLine": {"type": "command", "command": "~/.claude/statusline.sh"},
  "includeCoAuthoredBy": false
}
"""

CURSOR_HOOKS = """{
  "version": 1,
  "hooks": {
    "beforeShellExecution": [{"command": "./hooks/guard-shell.sh", "matcher": "rm -rf"}],
    "afterFileEdit": [{"command": "./hooks/format.sh"}]
  }
}
"""


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def load(path):
    return json.loads(read_bytes(path))


def ours(hook):
    return "VeskAgentBridge" in hook.get("command", "")


def our_commands(settings):
    """(event, matcher, command) of every VeskAgentBridge entry, sorted."""
    return sorted((event, entry.get("matcher"), hook["command"])
                  for event, entries in settings["hooks"].items()
                  for entry in entries
                  for hook in entry.get("hooks", [entry]) if ours(hook))


def without_ours(settings):
    """The settings without our entries and the containers they alone filled."""
    result = json.loads(json.dumps(settings))
    hooks = result["hooks"]
    for event in list(hooks):
        for entry in hooks[event]:
            if "hooks" in entry:
                entry["hooks"] = [h for h in entry["hooks"] if not ours(h)]
        hooks[event] = [e for e in hooks[event]
                        if e.get("hooks", True) and not ours(e)]
        if not hooks[event]:
            del hooks[event]
    return result


class AgentHooksCli(unittest.TestCase):

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="vesk-hooks-home-")
        self.addCleanup(shutil.rmtree, self.home)
        self.bridge = os.path.join(self.home, "bin", "VeskAgentBridge")
        self.write(self.bridge, "#!/bin/sh\n", 0o755)
        self.claude = os.path.join(self.home, ".claude", "settings.json")
        self.cursor = os.path.join(self.home, ".cursor", "hooks.json")

    def write(self, path, text, mode=0o644):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        os.chmod(path, mode)

    def run_tool(self, *args):
        return subprocess.run([TOOL, *args], env=dict(os.environ, HOME=self.home),
                              capture_output=True, text=True, timeout=60)

    def run_ok(self, *args):
        out = self.run_tool(*args)
        self.assertEqual(out.returncode, 0, out.stderr)
        return out

    def backups(self, path):
        return sorted(glob.glob(path + ".vesk-backup-*"))

    def test_install_keeps_everything_else_and_uninstall_restores_it(self):
        for agent, path, text in (("claude-code", self.claude, CLAUDE_SETTINGS),
                                  ("cursor", self.cursor, CURSOR_HOOKS)):
            with self.subTest(agent=agent):
                self.write(path, text)
                original = json.loads(text)
                install = ("install", "--agent", agent, "--bridge", self.bridge)
                self.run_ok(*install)
                installed = load(path)
                # Without our entries it is the original, key order included.
                self.assertEqual(json.dumps(without_ours(installed)),
                                 json.dumps(original))
                template = json.loads(self.run_ok(
                    "print", "--agent", agent, "--bridge", self.bridge).stdout)
                self.assertEqual(our_commands(installed),
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
                self.run_ok("uninstall", "--agent", agent)
                self.assertEqual(len(self.backups(path)), 2)

    def test_unusable_settings_are_refused_and_nothing_changes(self):
        cases = [
            ('{"model": "opus",}\n', "line 1"),
            ('{\n  // mine\n  "model": "opus"\n}\n', "line 2"),
            ('{"hooks": {"Stop": [', "cannot parse"),
            ('{"hooks": []}\n', '"hooks" is not'),
            ('{"hooks": {"Stop": {}}}\n', "Stop"),
        ]
        for text, message in cases:
            for command in (["install", "--bridge", self.bridge], ["uninstall"]):
                with self.subTest(text=text, command=command[0]):
                    self.write(self.claude, text)
                    self.write(self.cursor, CURSOR_HOOKS)
                    out = self.run_tool(*command)
                    self.assertEqual(out.returncode, 1)
                    self.assertIn(message, out.stderr)
                    self.assertIn("Nothing was changed", out.stderr)
                    self.assertEqual(read_bytes(self.claude), text.encode())
                    self.assertEqual(read_bytes(self.cursor),
                                     CURSOR_HOOKS.encode())
                    self.assertEqual(self.backups(self.claude)
                                     + self.backups(self.cursor), [])


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
