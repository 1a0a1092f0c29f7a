// The one table that decides which agent events run VeskAgentBridge and
// which base state each of them passes. The installer builds the agents'
// hook configuration from it, and the shipped templates
// (templates/claude-settings.json, templates/cursor-hooks.json) are this
// table written out for the installed path (a test keeps them equal).
// templates/README.md gives the reasons behind each row. Everything here is
// constant or a pure function, safe on any thread.
#ifndef VESK_AGENT_HOOKS_HOOK_TABLE_H_
#define VESK_AGENT_HOOKS_HOOK_TABLE_H_

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vesk {

enum class Agent { kClaudeCode, kCursor };

// One wired event. `matcher` is empty when the event runs for every tool,
// source or notification type (the entry then carries no "matcher").
struct HookRow {
  std::string_view event;
  std::string_view matcher;
  std::string_view baseState;
};

// The rows for `agent`, in the order they are written.
std::span<const HookRow> hookTable(Agent agent);

// The agent's name as VeskAgentBridge expects it: "Claude Code" or "Cursor".
std::string_view agentName(Agent agent);

// The command-line spelling of an agent: "claude-code" or "cursor".
std::string_view agentOption(Agent agent);
std::optional<Agent> agentFromOption(std::string_view option);

// The shell command line for one hook, e.g.
//   /usr/bin/VeskAgentBridge 'Claude Code' working
// Each word is single-quoted when it holds characters the shell would
// interpret.
std::string bridgeCommand(std::string_view bridgePath, Agent agent,
                          std::string_view baseState);

// True when the first word of the shell command `command` (quotes removed)
// names a program called VeskAgentBridge, wherever it lives. This is how the
// installer recognises the entries it owns.
bool isBridgeCommand(std::string_view command);

// The file name every bridge path must end in.
inline constexpr std::string_view kBridgeProgramName = "VeskAgentBridge";

}  // namespace vesk

#endif  // VESK_AGENT_HOOKS_HOOK_TABLE_H_
