// The one table that decides which agent events run VeskAgentBridge and
// which base state each of them passes. The installer builds the agents'
// hook configuration from it, and the shipped templates
// (templates/claude-settings.json, templates/cursor-hooks.json) are this
// table written out for the installed path (a test keeps them equal).
// templates/README.md gives the reasons behind each row. Everything here is
// constant or a pure function, safe on any thread.
#ifndef VESK_AGENT_HOOKS_HOOK_TABLE_H_
#define VESK_AGENT_HOOKS_HOOK_TABLE_H_

#include <compare>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

enum class Agent { kClaudeCode, kCursor };

// A release number such as 2.1.78, compared part by part.
struct AgentVersion {
  int major = 0;
  int minor = 0;
  int patch = 0;
  auto operator<=>(const AgentVersion&) const = default;
  // The first "X.Y.Z" of `text` (what `claude --version` prints starts
  // with it: "2.1.78 (Claude Code)"), or nullopt when it holds none.
  static std::optional<AgentVersion> parse(std::string_view text);
  std::string text() const;
};

// One wired event. `matcher` is empty when the event runs for every tool,
// source or notification type (the entry then carries no "matcher").
// `since` is the first Claude Code release that knows the event (Claude
// Code ignores a whole settings file that names an event it does not
// know); Cursor skips unknown events, so its rows carry none.
struct HookRow {
  std::string_view event;
  std::string_view matcher;
  std::string_view baseState;
  AgentVersion since;
};

// The oldest Claude Code whose hooks take a "timeout" (hooks came in 1.0.38,
// per-command timeouts in 1.0.41); older ones get no entries.
inline constexpr AgentVersion kOldestClaudeCode{1, 0, 41};
// What is written when the Claude Code version is unknown: the events every
// release since 1.0.85 knows.
inline constexpr AgentVersion kAssumedClaudeCode{1, 0, 85};

// Every row for `agent`, in the order they are written.
std::span<const HookRow> hookTable(Agent agent);

// The rows `agent` at `version` knows (for Cursor, all of them).
std::vector<HookRow> hookRows(Agent agent, AgentVersion version);

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
