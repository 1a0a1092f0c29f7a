// Merges VeskAgentBridge's hook entries into an agent's settings object, or
// takes them out again, touching nothing else.
//
// Claude Code keeps hooks as
//   {"hooks": {"<Event>": [{"matcher": "...", "hooks": [{"type": "command",
//                            "command": "...", "timeout": 10}]}]}}
// and Cursor as
//   {"version": 1, "hooks": {"<event>": [{"command": "..."}]}}.
//
// An entry is ours when its command runs a program named VeskAgentBridge
// (isBridgeCommand); everything else, other keys and other people's hooks
// included, is kept as it is and where it is. Our entries that already match
// the table stay in place; stale ones (another path, another base state, an
// event no longer in the table, duplicates) are removed, and missing ones are
// appended. Containers left empty by a removal are removed too, so an
// install followed by an uninstall gives back the structure that was there
// before. Both functions touch only their arguments and may run on any
// thread.
#ifndef VESK_AGENT_HOOKS_HOOK_CONFIG_H_
#define VESK_AGENT_HOOKS_HOOK_CONFIG_H_

#include <optional>
#include <string>
#include <string_view>

#include <boost/json/object.hpp>

#include "hook_table.h"

namespace vesk {

// The hook configuration of `agent` alone, as shipped in the templates: for
// Claude Code {"hooks": {...}}, for Cursor {"version": 1, "hooks": {...}}.
boost::json::object hookTemplate(Agent agent, std::string_view bridgePath);

// Brings the entries of `agent` in `settings` in line with the table for the
// bridge at `bridgePath`, or removes all of them when `bridgePath` is
// empty. Returns whether `settings` changed, or nullopt with `*error` set
// (and `settings` unchanged) when the file's "hooks" part has a shape the
// agent would not accept either, such as "hooks" not being an object.
std::optional<bool> applyHooks(boost::json::object& settings, Agent agent,
                               std::string_view bridgePath, std::string* error);

}  // namespace vesk

#endif  // VESK_AGENT_HOOKS_HOOK_CONFIG_H_
