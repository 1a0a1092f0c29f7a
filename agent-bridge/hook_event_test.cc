#include "hook_event.h"

#include <gtest/gtest.h>

#include "json_text.h"

namespace vesk {
namespace {

struct DecodeCase {
  std::string input;
  bool decodes;
  std::string sessionId = "";
  std::optional<std::string> project = std::nullopt;
  std::string eventName = "";
};

std::string nested(std::size_t depth) {
  return R"({"session_id":"s","x":)" + std::string(depth, '[') +
         std::string(depth, ']') + "}";
}

TEST(DecodeHookEvent, FollowsTheSessionAndFieldRules) {
  const DecodeCase cases[] = {
      {"", false},
      {R"([{"session_id":"a"}])", false},
      {R"({"session_id":"a"} x)", false},
      {R"({"session_id":"a"/*c*/})", false},
      {"{\"session_id\":\"\xff\"}", false},
      {R"({"hook_event_name":"Stop"})", false},
      {R"({"session_id":null,"conversation_id":"c"})", false},
      {R"({"conversation_id":"c"})", true, "c"},
      {R"({"conversation_id":"c","session_id":""})", true, ""},
      {R"({"session_id":" A\u00e9","hook_event_name":3})", true, " A\xc3\xa9"},
      {R"({"session_id":"s","hook_event_name":"Stop","x":{"hook_event_name":1}})",
       true, "s", std::nullopt, "Stop"},
      {R"({"session_id":"s","cwd":"/home/u/proj/"})", true, "s", "proj"},
      {R"({"session_id":"s","cwd":1,"workspace_roots":["/a/one","/b/two"]})",
       true, "s", "one"},
      {R"({"session_id":"s","cwd":"/x/cwd","workspace_roots":["/a/one"]})",
       true, "s", "cwd"},
      {R"({"session_id":"s","workspace_roots":["/a/one",2]})", true, "s"},
      {nested(kMaxJsonDepth - 1), true, "s"},
      {nested(kMaxJsonDepth), false},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 80));
    std::optional<HookEvent> event =
        decodeHookEvent(c.input, "Cursor", AgentState::idle);
    ASSERT_EQ(event.has_value(), c.decodes);
    if (!event) continue;
    EXPECT_EQ(event->sessionId, c.sessionId);
    EXPECT_EQ(event->projectName, c.project);
    EXPECT_EQ(event->eventName, c.eventName);
  }
}

}  // namespace
}  // namespace vesk
