#include "hook_event.h"

#include "event_field_handler.h"

namespace vesk {
namespace {

constexpr std::string_view kAgentNames[] = {"Claude Code", "Cursor"};

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
  return event_fields::decodeEventFields<event_fields::EventFieldHandler>(
      input, agent, baseState);
}

}  // namespace vesk
