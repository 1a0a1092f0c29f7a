#include "classification.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

constexpr auto W = AgentState::working;
constexpr auto I = AgentState::idle;
constexpr auto N = AgentState::needsAttention;
constexpr const char* kCC = "Claude Code";
constexpr const char* kDrop = "";

struct Row {
  const char* agent;
  AgentState base;
  const char* eventName;
  const char* detail;  // tool name, or notification type for "Notification"
  AgentState state;
  const char* activity;  // kDrop when the event is dropped
  bool promptSubmit = false;
};

TEST(ClassifyHookEvent, FollowsTheDecisionTable) {
  const Row rows[] = {
      {kCC, W, "PreToolUse", "AskUserQuestion", N, "Needs attention"},
      {kCC, I, "PreToolUse", "ExitPlanMode", N, "Needs attention"},
      {kCC, W, "PreToolUse", "Bash", W, "Using tools"},
      {kCC, N, "PreToolUse", "", N, "Needs attention"},
      {kCC, W, "preToolUse", "AskUserQuestion", W, "Using tools"},
      {kCC, I, "PostToolUse", "AskUserQuestion", I, "Using tools"},
      {"Cursor", W, "PreToolUse", "ExitPlanMode", W, "Using tools"},
      {kCC, I, "Notification", "permission_prompt", N, "Needs attention"},
      {kCC, W, "Notification", "elicitation_dialog", N, "Needs attention"},
      {kCC, W, "Notification", "elicitation_url_dialog", N, "Needs attention"},
      {kCC, W, "Notification", "agent_needs_input", N, "Needs attention"},
      {kCC, W, "Notification", "", W, kDrop},
      {kCC, N, "Notification", "idle_prompt", W, kDrop},
      {kCC, W, "Notification", "Permission_prompt", W, kDrop},
      {"Cursor", I, "Notification", "idle_prompt", I, "Running"},
      {"Cursor", N, "postToolUse", "", N, "Needs attention"},
      {"Cursor", I, "preToolUse", "", I, "Using tools"},
      {kCC, I, "UserPromptSubmit", "", I, "Running", true},
      {kCC, W, "beforeSubmitPrompt", "", W, "Running", true},
      {"Cursor", N, "UserPromptSubmit", "", N, "Needs attention", true},
      {"Cursor", W, "userPromptSubmit", "", W, "Running"},
      {kCC, W, "", "", W, "Running"},
      {kCC, I, "Stop", "AskUserQuestion", I, "Running"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.agent) + "/" + row.eventName + "/" +
                 row.detail);
    HookEvent event;
    event.agent = row.agent;
    event.baseState = row.base;
    event.eventName = row.eventName;
    // Each field only matters under its own rule, so both get the detail.
    event.toolName = row.detail;
    event.notificationType = row.detail;
    const Classification result = classifyHookEvent(event);
    ASSERT_EQ(result.drop, row.activity == kDrop);
    if (result.drop) continue;
    EXPECT_EQ(result.state, row.state);
    EXPECT_EQ(result.activity, row.activity);
    EXPECT_EQ(result.promptSubmit, row.promptSubmit);
  }
}

}  // namespace
}  // namespace vesk
