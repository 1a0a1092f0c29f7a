#include "classification.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace vesk {

namespace {

constexpr std::string_view kPromptSubmitEvents[] = {"UserPromptSubmit",
                                                    "beforeSubmitPrompt"};
constexpr std::string_view kToolEvents[] = {"PreToolUse", "PostToolUse",
                                            "preToolUse", "postToolUse"};
constexpr std::string_view kAttentionTools[] = {"AskUserQuestion",
                                                "ExitPlanMode"};
constexpr std::string_view kAttentionNotificationTypes[] = {
    "permission_prompt", "elicitation_dialog", "elicitation_url_dialog",
    "agent_needs_input"};

template <std::size_t N>
bool isOneOf(std::string_view name, const std::string_view (&names)[N]) {
  return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

}  // namespace

Classification classifyHookEvent(const HookEvent& event) {
  Classification result;
  result.state = event.baseState;
  const bool claudeCode = event.agent == "Claude Code";
  if (claudeCode && event.eventName == "PreToolUse" &&
      isOneOf(event.toolName, kAttentionTools)) {
    result.state = AgentState::needsAttention;
  } else if (claudeCode && event.eventName == "Notification") {
    if (!isOneOf(event.notificationType, kAttentionNotificationTypes)) {
      result.drop = true;
      return result;
    }
    result.state = AgentState::needsAttention;
  }

  if (result.state == AgentState::needsAttention) {
    result.activity = "Needs attention";
  } else if (isOneOf(event.eventName, kToolEvents)) {
    result.activity = "Using tools";
  } else {
    result.activity = "Running";
  }
  result.promptSubmit = isOneOf(event.eventName, kPromptSubmitEvents);
  return result;
}

}  // namespace vesk
