#include "hook_event.h"

#include <gtest/gtest.h>

#include <string>

#include "json_text.h"

namespace vesk {
namespace {

struct DecodeCase {
  const char* name;
  std::string input;
  bool decodes;
  std::string sessionId = "";
  std::string eventName = "";
  std::optional<std::string> projectName = std::nullopt;
};

TEST(DecodeHookEvent, FollowsTheSessionAndFieldRules) {
  const DecodeCase cases[] = {
      {"empty input", "", false},
      {"not json", "session_id", false},
      {"top-level array", R"([{"session_id":"a"}])", false},
      {"top-level string", R"("a")", false},
      {"trailing text", R"({"session_id":"a"} x)", false},
      {"comment", R"({"session_id":"a"/*c*/})", false},
      {"trailing comma", R"({"session_id":"a",})", false},
      {"invalid utf-8", "{\"session_id\":\"\xff\"}", false},
      {"no session key", R"({"hook_event_name":"Stop"})", false},
      {"null session_id hides conversation_id",
       R"({"session_id":null,"conversation_id":"c"})", false},
      {"numeric session_id", R"({"session_id":7})", false},
      {"conversation_id alone", R"({"conversation_id":"c"})", true, "c"},
      {"session_id wins", R"({"conversation_id":"c","session_id":"s"})", true,
       "s"},
      {"empty session_id", R"({"session_id":""})", true, ""},
      {"identifier kept byte for byte", R"({"session_id":" Ab\u00e9 "})", true,
       " Ab\xc3\xa9 "},
      {"numeric event name", R"({"session_id":"s","hook_event_name":3})", true,
       "s"},
      {"event name", R"({"session_id":"s","hook_event_name":"Stop"})", true,
       "s", "Stop"},
      {"cwd", R"({"session_id":"s","cwd":"/home/u/proj"})", true, "s", "",
       "proj"},
      {"numeric cwd falls back to first root",
       R"({"session_id":"s","cwd":1,"workspace_roots":["/a/one","/b/two"]})",
       true, "s", "", "one"},
      {"cwd wins over roots",
       R"({"session_id":"s","cwd":"/x/cwd","workspace_roots":["/a/one"]})",
       true, "s", "", "cwd"},
      {"empty roots", R"({"session_id":"s","workspace_roots":[]})", true, "s"},
      {"roots with a number",
       R"({"session_id":"s","workspace_roots":["/a/one",2]})", true, "s"},
      {"roots not an array", R"({"session_id":"s","workspace_roots":"/a"})",
       true, "s"},
      {"deepest nesting accepted",
       R"({"session_id":"s","x":)" + std::string(kMaxJsonDepth - 1, '[') +
           std::string(kMaxJsonDepth - 1, ']') + "}",
       true, "s"},
      {"nesting too deep",
       R"({"session_id":"s","x":)" + std::string(kMaxJsonDepth, '[') +
           std::string(kMaxJsonDepth, ']') + "}",
       false},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<HookEvent> event =
        decodeHookEvent(c.input, "Cursor", AgentState::idle);
    ASSERT_EQ(event.has_value(), c.decodes);
    if (!event) continue;
    EXPECT_EQ(event->agent, "Cursor");
    EXPECT_EQ(event->baseState, AgentState::idle);
    EXPECT_EQ(event->sessionId, c.sessionId);
    EXPECT_EQ(event->eventName, c.eventName);
    EXPECT_EQ(event->projectName, c.projectName);
  }
}

TEST(DecodeHookEvent, ReadsToolAndNotificationFields) {
  std::optional<HookEvent> event = decodeHookEvent(
      R"({"session_id":"s","tool_name":"Bash","notification_type":"x",)"
      R"("hook_event_name":"Notification"})",
      "Claude Code", AgentState::working);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->toolName, "Bash");
  EXPECT_EQ(event->notificationType, "x");
}

TEST(LastPathComponent, TakesTheFolderName) {
  const std::pair<const char*, const char*> cases[] = {
      {"/home/u/proj", "proj"},
      {"/home/u/proj/", "proj"},
      {"/", "/"},
      {"//", "/"},
      {"proj", "proj"},
      {"a/b//", "b"},
      {"~/x/..", ".."},
      {"", ""},
  };
  for (const auto& [path, name] : cases) {
    EXPECT_EQ(lastPathComponent(path), name) << path;
  }
}

TEST(CommandLineTexts, AreExact) {
  EXPECT_TRUE(isKnownAgent("Claude Code"));
  EXPECT_TRUE(isKnownAgent("Cursor"));
  for (const char* other : {"claude code", "Cursor ", "", "Claude"}) {
    EXPECT_FALSE(isKnownAgent(other)) << other;
  }
  for (AgentState state :
       {AgentState::working, AgentState::idle, AgentState::needsAttention}) {
    EXPECT_EQ(agentStateFromText(agentStateText(state)), state);
  }
  for (const char* other : {"Working", "idle ", "needsattention", ""}) {
    EXPECT_FALSE(agentStateFromText(other)) << other;
  }
}

}  // namespace
}  // namespace vesk
