// The agent event as the hook understands it: the agent's name, the base
// state from the command line, and the fields of the JSON event that the
// later steps read.
//
// Contract: decodeHookEvent() is a pure function of its arguments. It yields
// an event when the input is one strict JSON text whose top level is an
// object carrying a string session identifier, and nothing otherwise. It
// never throws for malformed input, never prints and may run on any thread.

#ifndef VESK_AGENT_BRIDGE_HOOK_EVENT_H_
#define VESK_AGENT_BRIDGE_HOOK_EVENT_H_

#include <optional>
#include <string>
#include <string_view>

namespace vesk {

enum class AgentState { working, idle, needsAttention };

// The exact text written for a state: "working", "idle", "needsAttention".
std::string_view agentStateText(AgentState state);

// The state whose text equals `text` exactly, or nothing.
std::optional<AgentState> agentStateFromText(std::string_view text);

// True for exactly "Claude Code" and "Cursor".
bool isKnownAgent(std::string_view name);

struct HookEvent {
  std::string agent;
  AgentState baseState = AgentState::working;
  std::string sessionId;  // May be empty.
  std::string eventName;
  std::string toolName;
  std::string notificationType;
  std::optional<std::string> projectName;

  friend bool operator==(const HookEvent&, const HookEvent&) = default;
};

// Decodes the event read from standard input. `agent` and `baseState` come
// from the already validated command line and are copied into the result.
// Yields nothing when the bytes are not one JSON object, when neither
// "session_id" nor "conversation_id" is present, or when the identifier
// taken is not a string. Absent or mistyped optional fields become empty
// text (or no project name); they never end decoding.
std::optional<HookEvent> decodeHookEvent(std::string_view input,
                                         std::string_view agent,
                                         AgentState baseState);

// The last component of a project folder path: a trailing "/" is ignored,
// "/" stays "/", and a path without "/" is its own name. The path is not
// resolved against the file system.
std::string lastPathComponent(std::string_view path);

}  // namespace vesk

#endif  // VESK_AGENT_BRIDGE_HOOK_EVENT_H_
