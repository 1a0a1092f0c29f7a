#!/usr/bin/env bash
# Installs what the hook needs, builds VeskAgentBridge alone, then plays a
# short Claude Code session and a Cursor session through it with a
# throwaway HOME, printing the status files after every event. Needs no
# terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh demo
bash scripts/build.sh build-demo -DVESK_BUILD_TESTS=OFF \
  -DVESK_BUILD_BENCHMARKS=OFF -DVESK_BUILD_LEASE_DAEMON=OFF \
  -DVESK_BUILD_AGENT_HOOKS=OFF >/dev/null

hook=build-demo/bin/VeskAgentBridge
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
agents="$home/Library/Application Support/Vesk/agents"

# The agent and base state are what the agents' hook configuration passes
# for each event; the event itself arrives on standard input.
feed() {
  local agent=$1 state=$2 sample=$3
  echo "== VeskAgentBridge '$agent' $state < agent-bridge/samples/$sample.json"
  HOME="$home" "$hook" "$agent" "$state" <"agent-bridge/samples/$sample.json"
  for file in "$agents"/*.json; do
    [ -e "$file" ] || continue
    echo "   $(stat -c %a "$file") ${file#"$home"/}"
    echo "   $(cat "$file")"
  done
  echo
}

feed "Claude Code" working claude-user-prompt-submit
feed "Claude Code" working claude-post-tool-use-read
feed "Claude Code" working claude-ask-user-question
feed "Claude Code" needsAttention claude-notification-permission
echo "(an idle_prompt notification is dropped: the file stays as it was)"
feed "Claude Code" needsAttention claude-notification-idle
feed "Claude Code" idle claude-stop
feed Cursor working cursor-before-submit-prompt
feed Cursor working cursor-post-tool-use
feed Cursor idle cursor-stop
