#include "hook_config.h"

#include <utility>
#include <vector>

#include <boost/json/serialize.hpp>

namespace vesk {
namespace {

constexpr int kClaudeTimeoutSeconds = 10;

boost::json::object hookObject(Agent agent, std::string_view bridgePath,
                               const HookRow& row) {
  boost::json::object hook;
  if (agent == Agent::kClaudeCode) {
    hook["type"] = "command";
    hook["command"] = bridgeCommand(bridgePath, agent, row.baseState);
    hook["timeout"] = kClaudeTimeoutSeconds;
  } else {
    hook["command"] = bridgeCommand(bridgePath, agent, row.baseState);
  }
  return hook;
}

// Claude Code entries sit in a matcher group; Cursor entries sit directly in
// the event's array.
boost::json::object eventEntry(Agent agent, std::string_view bridgePath,
                               const HookRow& row) {
  boost::json::object hook = hookObject(agent, bridgePath, row);
  if (agent == Agent::kCursor) return hook;
  boost::json::object group;
  if (!row.matcher.empty()) group["matcher"] = row.matcher;
  group["hooks"] = boost::json::array{std::move(hook)};
  return group;
}

bool isOurs(const boost::json::value& hook) {
  if (!hook.is_object()) return false;
  const boost::json::value* command = hook.get_object().if_contains("command");
  return command != nullptr && command->is_string() &&
         isBridgeCommand(command->get_string());
}

std::string_view groupMatcher(const boost::json::object& group) {
  const boost::json::value* matcher = group.if_contains("matcher");
  if (matcher == nullptr || !matcher->is_string()) return {};
  return matcher->get_string();
}

// The desired rows of one event, each with a flag set once an existing
// entry has been kept for it.
struct Wanted {
  const HookRow* row;
  boost::json::object hook;
  bool satisfied = false;
};

// The wanted rows, grouped by event in table order.
using WantedEvents =
    std::vector<std::pair<std::string_view, std::vector<Wanted>>>;

std::vector<Wanted>* rowsFor(WantedEvents& wanted, std::string_view event) {
  for (auto& [name, rows] : wanted) {
    if (name == event) return &rows;
  }
  return nullptr;
}

WantedEvents wantedEvents(Agent agent, std::string_view bridgePath) {
  WantedEvents wanted;
  if (bridgePath.empty()) return wanted;
  for (const HookRow& row : hookTable(agent)) {
    std::vector<Wanted>* rows = rowsFor(wanted, row.event);
    if (rows == nullptr)
      rows = &wanted.emplace_back(row.event, std::vector<Wanted>()).second;
    rows->push_back({&row, hookObject(agent, bridgePath, row)});
  }
  return wanted;
}

// Marks the first unsatisfied wanted row equal to `hook` under `matcher` as
// kept; false when none is left for it.
bool claim(std::vector<Wanted>& wanted, std::string_view matcher,
           const boost::json::value& hook) {
  for (Wanted& w : wanted) {
    if (!w.satisfied && w.row->matcher == matcher && w.hook == hook) {
      w.satisfied = true;
      return true;
    }
  }
  return false;
}

// Erases our hooks that no wanted row claims from `list`. Returns whether
// anything was erased.
bool pruneHooks(boost::json::array& list, std::string_view matcher,
                std::vector<Wanted>& wanted) {
  bool removed = false;
  for (size_t i = 0; i < list.size();) {
    if (isOurs(list[i]) && !claim(wanted, matcher, list[i])) {
      list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
      removed = true;
    } else {
      ++i;
    }
  }
  return removed;
}

// Takes our entries out of one Claude Code event's array of matcher groups,
// dropping a group that only our entries filled.
bool pruneGroups(boost::json::array& groups, std::vector<Wanted>& wanted) {
  bool removed = false;
  for (size_t i = 0; i < groups.size();) {
    boost::json::value* hooks =
        groups[i].is_object() ? groups[i].get_object().if_contains("hooks")
                              : nullptr;
    bool emptied = false;
    if (hooks != nullptr && hooks->is_array()) {
      boost::json::array& list = hooks->get_array();
      bool removedHere =
          pruneHooks(list, groupMatcher(groups[i].get_object()), wanted);
      removed = removed || removedHere;
      emptied = removedHere && list.empty();
    }
    if (emptied) {
      groups.erase(groups.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
  return removed;
}

// Takes our entries out of one event's array, keeping the first one that
// matches each wanted row. Returns whether anything was removed.
bool pruneEvent(boost::json::array& entries, Agent agent,
                std::vector<Wanted>& wanted) {
  if (agent == Agent::kCursor) return pruneHooks(entries, {}, wanted);
  return pruneGroups(entries, wanted);
}

// Refuses a "hooks" part the agent would not accept either, before anything
// in `settings` changes.
bool checkShape(const boost::json::object& settings, std::string* error) {
  const boost::json::value* existing = settings.if_contains("hooks");
  if (existing == nullptr) return true;
  if (!existing->is_object()) {
    *error = "\"hooks\" is not a JSON object";
    return false;
  }
  for (const auto& member : existing->get_object()) {
    if (!member.value().is_array()) {
      *error =
          "\"hooks\".\"" + std::string(member.key()) + "\" is not a JSON array";
      return false;
    }
  }
  return true;
}

// Removes stale entries, keeping those that already match, and the
// containers only they filled.
void removeStale(boost::json::object& settings, Agent agent,
                 WantedEvents& wanted) {
  boost::json::value* hooksValue = settings.if_contains("hooks");
  if (hooksValue == nullptr) return;
  boost::json::object& hooks = hooksValue->get_object();
  std::vector<std::string> emptied;
  bool removedAny = false;
  for (auto& member : hooks) {
    std::vector<Wanted> none;
    std::vector<Wanted>* rows = rowsFor(wanted, member.key());
    boost::json::array& entries = member.value().get_array();
    bool removed = pruneEvent(entries, agent, rows ? *rows : none);
    removedAny = removedAny || removed;
    if (removed && entries.empty()) emptied.emplace_back(member.key());
  }
  for (const std::string& key : emptied) hooks.stable_erase(key);
  if (removedAny && hooks.empty()) settings.stable_erase("hooks");
}

// Appends the wanted rows no existing entry satisfied.
void appendMissing(boost::json::object& settings, Agent agent,
                   std::string_view bridgePath, const WantedEvents& wanted) {
  bool missing = false;
  for (const auto& [event, rows] : wanted) {
    for (const Wanted& w : rows) missing = missing || !w.satisfied;
  }
  if (!missing) return;
  if (agent == Agent::kCursor && !settings.contains("version")) {
    // Cursor wants the version first; rebuild to put it there.
    boost::json::object rebuilt;
    rebuilt["version"] = 1;
    for (auto& member : settings) {
      rebuilt[member.key()] = std::move(member.value());
    }
    settings = std::move(rebuilt);
  }
  boost::json::value& hooksValue = settings["hooks"];
  if (!hooksValue.is_object()) hooksValue = boost::json::object();
  boost::json::object& hooks = hooksValue.get_object();
  for (const auto& [event, rows] : wanted) {
    for (const Wanted& w : rows) {
      if (w.satisfied) continue;
      boost::json::value& slot = hooks[event];
      if (!slot.is_array()) slot = boost::json::array();
      slot.get_array().push_back(eventEntry(agent, bridgePath, *w.row));
    }
  }
}

}  // namespace

boost::json::object hookTemplate(Agent agent, std::string_view bridgePath) {
  // The template is what an install writes into empty settings.
  boost::json::object config;
  appendMissing(config, agent, bridgePath, wantedEvents(agent, bridgePath));
  return config;
}

std::optional<bool> applyHooks(boost::json::object& settings, Agent agent,
                               std::string_view bridgePath,
                               std::string* error) {
  if (!checkShape(settings, error)) return std::nullopt;
  const std::string before = boost::json::serialize(settings);
  WantedEvents wanted = wantedEvents(agent, bridgePath);
  removeStale(settings, agent, wanted);
  appendMissing(settings, agent, bridgePath, wanted);
  return boost::json::serialize(settings) != before;
}

}  // namespace vesk
