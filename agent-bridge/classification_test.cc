#include "classification.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

constexpr auto W = AgentState::working;
constexpr auto I = AgentState::idle;
constexpr auto N = AgentState::needsAttention;

struct Row {
  const char* agent;
  AgentState base;
  const char* eventName;
  const char* toolName;
  const char* notificationType;
  bool drop;
  AgentState state;
  const char* activity;
  bool promptSubmit;
};

TEST(ClassifyHookEvent, FollowsTheDecisionTable) {
  const Row rows[] = {
      // Questions and plan approval raise "Claude Code" before the tool runs.
      {"Claude Code", W, "PreToolUse", "AskUserQuestion", "", false, N,
       "Needs attention", false},
      {"Claude Code", I, "PreToolUse", "ExitPlanMode", "", false, N,
       "Needs attention", false},
      {"Claude Code", W, "PreToolUse", "Bash", "", false, W, "Using tools",
       false},
      {"Claude Code", N, "PreToolUse", "", "", false, N, "Needs attention",
       false},
      {"Claude Code", W, "preToolUse", "AskUserQuestion", "", false, W,
       "Using tools", false},
      {"Claude Code", W, "PostToolUse", "AskUserQuestion", "", false, W,
       "Using tools", false},
      {"Cursor", W, "PreToolUse", "ExitPlanMode", "", false, W, "Using tools",
       false},
      // Attention notifications raise; every other one is dropped.
      {"Claude Code", I, "Notification", "", "permission_prompt", false, N,
       "Needs attention", false},
      {"Claude Code", W, "Notification", "", "elicitation_dialog", false, N,
       "Needs attention", false},
      {"Claude Code", W, "Notification", "", "elicitation_url_dialog", false, N,
       "Needs attention", false},
      {"Claude Code", W, "Notification", "", "agent_needs_input", false, N,
       "Needs attention", false},
      {"Claude Code", W, "Notification", "", "", true, W, "", false},
      {"Claude Code", N, "Notification", "", "idle_prompt", true, W, "", false},
      {"Claude Code", W, "Notification", "AskUserQuestion", "Permission_prompt",
       true, W, "", false},
      {"Cursor", I, "Notification", "", "idle_prompt", false, I, "Running",
       false},
      {"Cursor", N, "Notification", "", "", false, N, "Needs attention", false},
      // Tool events, either agent, never raise.
      {"Cursor", I, "postToolUse", "", "", false, I, "Using tools", false},
      {"Cursor", N, "postToolUse", "", "", false, N, "Needs attention", false},
      {"Claude Code", I, "preToolUse", "", "", false, I, "Using tools", false},
      // Prompt submission sets the flag for either agent, whatever the state.
      {"Claude Code", I, "UserPromptSubmit", "", "", false, I, "Running", true},
      {"Claude Code", W, "beforeSubmitPrompt", "", "", false, W, "Running",
       true},
      {"Cursor", N, "UserPromptSubmit", "", "", false, N, "Needs attention",
       true},
      {"Cursor", W, "userPromptSubmit", "", "", false, W, "Running", false},
      // Anything else keeps the base state.
      {"Claude Code", W, "", "", "", false, W, "Running", false},
      {"Claude Code", I, "Stop", "AskUserQuestion", "permission_prompt", false,
       I, "Running", false},
      {"Cursor", N, "stop", "", "", false, N, "Needs attention", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.agent) + " " + row.eventName + " " +
                 row.toolName + " " + row.notificationType);
    HookEvent event;
    event.agent = row.agent;
    event.baseState = row.base;
    event.eventName = row.eventName;
    event.toolName = row.toolName;
    event.notificationType = row.notificationType;
    const Classification result = classifyHookEvent(event);
    ASSERT_EQ(result.drop, row.drop);
    if (row.drop) continue;
    EXPECT_EQ(result.state, row.state);
    EXPECT_EQ(result.activity, row.activity);
    EXPECT_EQ(result.promptSubmit, row.promptSubmit);
  }
}

}  // namespace
}  // namespace vesk
