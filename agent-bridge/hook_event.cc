#include "hook_event.h"

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/value.hpp>

#include "json_text.h"

namespace vesk {
namespace json = boost::json;

namespace {

constexpr std::string_view kAgentNames[] = {"Claude Code", "Cursor"};

std::string toStdString(const json::string& text) {
  return std::string(text.data(), text.size());
}

std::string stringOrEmpty(const json::object& object, std::string_view key) {
  const json::value* value = object.if_contains(key);
  if (value == nullptr || !value->is_string()) return {};
  return toStdString(value->get_string());
}

// "cwd" wins whenever it is a string; otherwise the first of
// "workspace_roots", provided the whole array is strings.
std::optional<std::string> projectPath(const json::object& object) {
  if (const json::value* cwd = object.if_contains("cwd");
      cwd != nullptr && cwd->is_string()) {
    return toStdString(cwd->get_string());
  }
  const json::value* roots = object.if_contains("workspace_roots");
  if (roots == nullptr || !roots->is_array()) return std::nullopt;
  const json::array& array = roots->get_array();
  if (array.empty()) return std::nullopt;
  for (const json::value& element : array) {
    if (!element.is_string()) return std::nullopt;
  }
  return toStdString(array.front().get_string());
}

}  // namespace

std::string_view agentStateText(AgentState state) {
  switch (state) {
    case AgentState::working:
      return "working";
    case AgentState::idle:
      return "idle";
    case AgentState::needsAttention:
      return "needsAttention";
  }
  return "working";
}

std::optional<AgentState> agentStateFromText(std::string_view text) {
  for (AgentState state :
       {AgentState::working, AgentState::idle, AgentState::needsAttention}) {
    if (agentStateText(state) == text) return state;
  }
  return std::nullopt;
}

bool isKnownAgent(std::string_view name) {
  for (std::string_view known : kAgentNames) {
    if (known == name) return true;
  }
  return false;
}

std::string lastPathComponent(std::string_view path) {
  if (path.empty()) return {};
  std::size_t end = path.find_last_not_of('/');
  if (end == std::string_view::npos) return "/";
  std::string_view trimmed = path.substr(0, end + 1);
  std::size_t slash = trimmed.rfind('/');
  return std::string(
      slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1));
}

std::optional<HookEvent> decodeHookEvent(std::string_view input,
                                         std::string_view agent,
                                         AgentState baseState) {
  // Everything parsed lives in this resource and is dropped with it in one
  // step, so a deeply nested event costs no recursion on the way out.
  json::monotonic_resource memory;
  std::optional<json::object> object = parseJsonObject(input, &memory);
  if (!object) return std::nullopt;

  const json::value* session = object->if_contains("session_id");
  if (session == nullptr) session = object->if_contains("conversation_id");
  if (session == nullptr || !session->is_string()) return std::nullopt;

  HookEvent event;
  event.agent = std::string(agent);
  event.baseState = baseState;
  event.sessionId = toStdString(session->get_string());
  event.eventName = stringOrEmpty(*object, "hook_event_name");
  event.toolName = stringOrEmpty(*object, "tool_name");
  event.notificationType = stringOrEmpty(*object, "notification_type");
  if (std::optional<std::string> path = projectPath(*object)) {
    event.projectName = lastPathComponent(*path);
  }
  return event;
}

}  // namespace vesk
