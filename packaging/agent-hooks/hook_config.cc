#include "hook_config.h"

#include <vector>

#include <boost/json/serialize.hpp>

namespace vesk {
namespace {

constexpr int kClaudeTimeoutSeconds = 10;

boost::json::object HookObject(Agent agent, std::string_view bridge_path,
                               const HookRow& row) {
  boost::json::object hook;
  if (agent == Agent::kClaudeCode) {
    hook["type"] = "command";
    hook["command"] = BridgeCommand(bridge_path, agent, row.base_state);
    hook["timeout"] = kClaudeTimeoutSeconds;
  } else {
    hook["command"] = BridgeCommand(bridge_path, agent, row.base_state);
  }
  return hook;
}

// Claude Code entries sit in a matcher group; Cursor entries sit directly in
// the event's array.
boost::json::object EventEntry(Agent agent, std::string_view bridge_path,
                               const HookRow& row) {
  boost::json::object hook = HookObject(agent, bridge_path, row);
  if (agent == Agent::kCursor) return hook;
  boost::json::object group;
  if (!row.matcher.empty()) group["matcher"] = row.matcher;
  group["hooks"] = boost::json::array{std::move(hook)};
  return group;
}

bool IsOurs(const boost::json::value& hook) {
  if (!hook.is_object()) return false;
  const boost::json::value* command = hook.get_object().if_contains("command");
  return command != nullptr && command->is_string() &&
         IsBridgeCommand(command->get_string());
}

std::string_view GroupMatcher(const boost::json::object& group) {
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

// Takes our entries out of one event's array, keeping the first one that
// matches each wanted row. Returns whether anything was removed.
bool PruneEvent(boost::json::array& entries, Agent agent,
                std::vector<Wanted>& wanted) {
  auto claim = [&](std::string_view matcher, const boost::json::value& hook) {
    for (Wanted& w : wanted) {
      if (!w.satisfied && w.row->matcher == matcher && w.hook == hook) {
        w.satisfied = true;
        return true;
      }
    }
    return false;
  };
  bool removed = false;
  for (size_t i = 0; i < entries.size();) {
    boost::json::value& entry = entries[i];
    if (agent == Agent::kCursor) {
      if (IsOurs(entry) && !claim({}, entry)) {
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
        removed = true;
        continue;
      }
      ++i;
      continue;
    }
    // Claude Code: look inside the group's own "hooks" array.
    bool emptied = false;
    if (entry.is_object()) {
      boost::json::object& group = entry.get_object();
      boost::json::value* hooks = group.if_contains("hooks");
      if (hooks != nullptr && hooks->is_array()) {
        boost::json::array& list = hooks->get_array();
        std::string_view matcher = GroupMatcher(group);
        bool removed_here = false;
        for (size_t j = 0; j < list.size();) {
          if (IsOurs(list[j]) && !claim(matcher, list[j])) {
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(j));
            removed_here = true;
            continue;
          }
          ++j;
        }
        removed = removed || removed_here;
        emptied = removed_here && list.empty();
      }
    }
    if (emptied) {
      entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    ++i;
  }
  return removed;
}

}  // namespace

boost::json::object HookTemplate(Agent agent, std::string_view bridge_path) {
  boost::json::object hooks;
  for (const HookRow& row : HookTable(agent)) {
    boost::json::value& slot = hooks[row.event];
    if (!slot.is_array()) slot = boost::json::array();
    slot.get_array().push_back(EventEntry(agent, bridge_path, row));
  }
  boost::json::object config;
  if (agent == Agent::kCursor) config["version"] = 1;
  config["hooks"] = std::move(hooks);
  return config;
}

std::optional<bool> ApplyHooks(boost::json::object& settings, Agent agent,
                               std::string_view bridge_path,
                               std::string* error) {
  // Check the shape first so that a refusal leaves `settings` untouched.
  const boost::json::value* existing = settings.if_contains("hooks");
  if (existing != nullptr) {
    if (!existing->is_object()) {
      *error = "\"hooks\" is not a JSON object";
      return std::nullopt;
    }
    for (const auto& member : existing->get_object()) {
      if (!member.value().is_array()) {
        *error = "\"hooks\".\"" + std::string(member.key()) +
                 "\" is not a JSON array";
        return std::nullopt;
      }
    }
  }

  const std::string before = boost::json::serialize(settings);
  const bool install = !bridge_path.empty();

  // The wanted rows, grouped by event in table order.
  std::vector<std::pair<std::string_view, std::vector<Wanted>>> wanted;
  auto rows_for = [&](std::string_view event) -> std::vector<Wanted>* {
    for (auto& [name, rows] : wanted) {
      if (name == event) return &rows;
    }
    return nullptr;
  };
  if (install) {
    for (const HookRow& row : HookTable(agent)) {
      std::vector<Wanted>* rows = rows_for(row.event);
      if (rows == nullptr)
        rows = &wanted.emplace_back(row.event, std::vector<Wanted>()).second;
      rows->push_back({&row, HookObject(agent, bridge_path, row)});
    }
  }

  // Remove stale entries, keeping those that already match.
  if (boost::json::value* hooks_value = settings.if_contains("hooks")) {
    boost::json::object& hooks = hooks_value->get_object();
    std::vector<std::string> emptied;
    bool removed_any = false;
    for (auto& member : hooks) {
      std::vector<Wanted> none;
      std::vector<Wanted>* rows = rows_for(member.key());
      boost::json::array& entries = member.value().get_array();
      bool removed = PruneEvent(entries, agent, rows ? *rows : none);
      removed_any = removed_any || removed;
      if (removed && entries.empty()) emptied.emplace_back(member.key());
    }
    for (const std::string& key : emptied) hooks.stable_erase(key);
    if (removed_any && hooks.empty()) settings.stable_erase("hooks");
  }

  // Append what is missing.
  if (install) {
    bool missing = false;
    for (auto& [event, rows] : wanted) {
      for (Wanted& w : rows) missing = missing || !w.satisfied;
    }
    if (missing) {
      if (agent == Agent::kCursor && !settings.contains("version")) {
        // Cursor wants the version first; rebuild to put it there.
        boost::json::object rebuilt;
        rebuilt["version"] = 1;
        for (auto& member : settings) {
          rebuilt[member.key()] = std::move(member.value());
        }
        settings = std::move(rebuilt);
      }
      boost::json::value& hooks_value = settings["hooks"];
      if (!hooks_value.is_object()) hooks_value = boost::json::object();
      boost::json::object& hooks = hooks_value.get_object();
      for (auto& [event, rows] : wanted) {
        for (Wanted& w : rows) {
          if (w.satisfied) continue;
          boost::json::value& slot = hooks[event];
          if (!slot.is_array()) slot = boost::json::array();
          slot.get_array().push_back(EventEntry(agent, bridge_path, *w.row));
        }
      }
    }
  }

  return boost::json::serialize(settings) != before;
}

}  // namespace vesk
