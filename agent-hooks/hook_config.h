// Merges VeskAgentBridge's hook entries into an agent's settings file, or
// takes them out again, by editing the file's text in place.
//
// Claude Code keeps hooks as
//   {"hooks": {"<Event>": [{"matcher": "...", "hooks": [{"type": "command",
//                            "command": "...", "timeout": 10}]}]}}
// and Cursor as
//   {"version": 1, "hooks": {"<event>": [{"command": "...", "timeout": 10}]}}.
//
// An entry is ours when its command runs a program named VeskAgentBridge
// (isBridgeCommand); everything else, other keys and other people's hooks
// included, is kept as it is and where it is, byte for byte. Our entries
// that already match the rows stay in place; stale ones (another path,
// another base state, an event not among the rows, duplicates) are removed,
// and missing ones are appended after the last entry of their container in
// its layout (indentation, line ends, compact or one per line). Containers
// left empty by a removal are removed too. Appending and removing are exact
// inverses, so an uninstall after an install gives back the file that was
// there before, byte for byte. Where a key appears twice, the last one is
// edited: it is the one the agents read. Pure functions, safe on any thread.
#ifndef VESK_AGENT_HOOKS_HOOK_CONFIG_H_
#define VESK_AGENT_HOOKS_HOOK_CONFIG_H_

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "hook_table.h"
#include "json_layout.h"

namespace vesk {

// The new text of a settings file whose bytes are `text` and whose layout
// is `root` (null when the file is missing or holds only white space), with
// the entries of `agent` brought in line with `rows` for the bridge at
// `bridgePath`, or all of them removed when `bridgePath` is empty. Returns
// `text` itself when nothing needs to change, or nullopt with `*error` set
// when the file has a shape the agent would not accept either, such as
// "hooks" not being an object.
std::optional<std::string> editHooks(std::string_view text,
                                     const JsonNode* root, Agent agent,
                                     std::span<const HookRow> rows,
                                     std::string_view bridgePath,
                                     std::string* error);

// What an install writes into a missing settings file: for Claude Code
// {"hooks": {...}}, for Cursor {"version": 1, "hooks": {...}}, two-space
// indented, with a final newline.
std::string hookTemplate(Agent agent, std::span<const HookRow> rows,
                         std::string_view bridgePath);

}  // namespace vesk

#endif  // VESK_AGENT_HOOKS_HOOK_CONFIG_H_
