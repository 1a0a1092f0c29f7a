#include "hook_config.h"

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "hook_table.h"
#include "json_format.h"

namespace vesk {
namespace {

constexpr char kBridge[] = "/usr/bin/VeskAgentBridge";

boost::json::object Parse(const std::string& text) {
  return boost::json::parse(text).as_object();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// The shipped templates are the table written out for the packaged path; a
// change to one without the other fails here.
TEST(HookTemplateTest, ShippedTemplatesMatchTheTable) {
  struct Case {
    Agent agent;
    const char* file;
  } cases[] = {{Agent::kClaudeCode, "claude-settings.json"},
               {Agent::kCursor, "cursor-hooks.json"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::string shipped =
        ReadFile(std::string(VESK_AGENT_HOOKS_DIR) + "/" + c.file);
    EXPECT_EQ(FormatJson(HookTemplate(c.agent, kBridge)), shipped);
  }
}

// Properties the agents rely on, whatever rows are added later.
TEST(HookTableTest, RowsAreSafeForTheAgents) {
  const std::set<std::string_view> states = {"working", "idle",
                                             "needsAttention"};
  // Cursor reads an empty answer from these as a refusal.
  const std::set<std::string_view> cursor_permission_hooks = {
      "preToolUse", "beforeShellExecution", "beforeMCPExecution",
      "beforeReadFile", "subagentStart"};
  for (Agent agent : {Agent::kClaudeCode, Agent::kCursor}) {
    for (const HookRow& row : HookTable(agent)) {
      SCOPED_TRACE(row.event);
      EXPECT_TRUE(states.count(row.base_state));
      if (agent == Agent::kCursor) {
        EXPECT_FALSE(cursor_permission_hooks.count(row.event));
        EXPECT_TRUE(row.matcher.empty());
      }
      // Cursor may load Claude Code's file too: a PreToolUse entry must stay
      // limited to the tools that ask the user.
      if (agent == Agent::kClaudeCode && row.event == "PreToolUse") {
        EXPECT_EQ(row.matcher, "AskUserQuestion|ExitPlanMode");
      }
    }
  }
}

TEST(BridgeCommandTest, RecognisesOwnCommandsOnly) {
  for (const char* path :
       {"/usr/bin/VeskAgentBridge", "/opt/Vesk Tools/VeskAgentBridge",
        "/home/o'neil/bin/VeskAgentBridge", "/a/$HOME/VeskAgentBridge"}) {
    for (Agent agent : {Agent::kClaudeCode, Agent::kCursor}) {
      std::string command = BridgeCommand(path, agent, "idle");
      EXPECT_TRUE(IsBridgeCommand(command)) << command;
    }
  }
  EXPECT_EQ(BridgeCommand("/opt/Vesk Tools/VeskAgentBridge", Agent::kClaudeCode,
                          "working"),
            "'/opt/Vesk Tools/VeskAgentBridge' 'Claude Code' working");

  struct Case {
    const char* command;
    bool ours;
  } cases[] = {
      {"VeskAgentBridge Cursor idle", true},
      {"  \"/opt/a b/VeskAgentBridge\" Cursor idle", true},
      {"/opt/a\\ b/VeskAgentBridge Cursor idle", true},
      {"/usr/local/bin/VeskAgentBridge;echo x", true},
      {"echo VeskAgentBridge", false},
      {"/usr/bin/VeskAgentBridgeOld 'Claude Code' idle", false},
      {"/usr/bin/VeskAgentBridge/other idle", false},
      {"npx prettier --write", false},
      {"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsBridgeCommand(c.command), c.ours) << c.command;
  }
}

// Each case: an agent, the settings before, and what must hold after an
// install with kBridge (checked on the serialised result).
TEST(ApplyHooksTest, InstallKeepsForeignEntriesAndFixesOurs) {
  struct Case {
    const char* name;
    Agent agent;
    const char* before;
    std::vector<const char*> present;
    std::vector<const char*> absent;
  } cases[] = {
      {"stale path in a shared group",
       Agent::kClaudeCode,
       R"({"hooks":{"Stop":[{"hooks":[
           {"type":"command","command":"afplay done.aiff"},
           {"type":"command","command":"/old/VeskAgentBridge 'Claude Code' idle"}]}]}})",
       {R"("command":"afplay done.aiff")",
        R"("command":"/usr/bin/VeskAgentBridge 'Claude Code' idle")"},
       {"/old/VeskAgentBridge"}},
      {"wrong base state replaced",
       Agent::kCursor,
       R"({"version":1,"hooks":{"stop":[
           {"command":"/usr/bin/VeskAgentBridge Cursor working"}]}})",
       {R"("stop":[{"command":"/usr/bin/VeskAgentBridge Cursor idle"}])"},
       {R"("stop":[{"command":"/usr/bin/VeskAgentBridge Cursor working"})"}},
      {"event no longer in the table",
       Agent::kCursor,
       R"({"version":1,"hooks":{"beforeShellExecution":[
           {"command":"/usr/bin/VeskAgentBridge Cursor working"}]}})",
       {},
       {"beforeShellExecution"}},
      {"version added first",
       Agent::kCursor,
       R"({"hooks":{}})",
       {R"({"version":1,"hooks":{"beforeSubmitPrompt")"},
       {}},
      {"other version kept",
       Agent::kCursor,
       R"({"version":2})",
       {R"({"version":2,"hooks")"},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    boost::json::object settings = Parse(c.before);
    std::string error;
    auto changed = ApplyHooks(settings, c.agent, kBridge, &error);
    ASSERT_TRUE(changed) << error;
    EXPECT_TRUE(*changed);
    std::string after = boost::json::serialize(settings);
    for (const char* text : c.present) {
      EXPECT_NE(after.find(text), std::string::npos) << text << "\n" << after;
    }
    for (const char* text : c.absent) {
      EXPECT_EQ(after.find(text), std::string::npos) << text << "\n" << after;
    }
    // The result is what a fresh install on the foreign rest gives: a
    // second run keeps it.
    boost::json::object again = settings;
    EXPECT_EQ(ApplyHooks(again, c.agent, kBridge, &error), false);
  }
}

TEST(ApplyHooksTest, DuplicatesOfOurEntriesCollapse) {
  std::string entry =
      R"({"hooks":[{"type":"command","command":"/usr/bin/VeskAgentBridge 'Claude Code' idle","timeout":10}]})";
  boost::json::object settings =
      Parse(R"({"hooks":{"Stop":[)" + entry + "," + entry + "]}}");
  std::string error;
  ASSERT_EQ(ApplyHooks(settings, Agent::kClaudeCode, kBridge, &error), true);
  EXPECT_EQ(settings["hooks"].as_object()["Stop"].as_array().size(), 1u);
}

TEST(ApplyHooksTest, RefusesShapesTheAgentWouldRejectAndChangesNothing) {
  const char* cases[] = {
      R"({"hooks":[]})",
      R"({"hooks":"none"})",
      R"({"hooks":{"Stop":{"command":"x"}}})",
  };
  for (const char* text : cases) {
    for (bool install : {true, false}) {
      SCOPED_TRACE(text);
      boost::json::object settings = Parse(text);
      std::string error;
      EXPECT_FALSE(ApplyHooks(settings, Agent::kClaudeCode,
                              install ? kBridge : "", &error));
      EXPECT_FALSE(error.empty());
      EXPECT_EQ(boost::json::serialize(settings),
                boost::json::serialize(Parse(text)));
    }
  }
}

TEST(ApplyHooksTest, UninstallRestoresTheEarlierStructure) {
  const char* cases[] = {
      R"({})",
      R"({"model":"opus","hooks":{"Stop":[{"hooks":[{"type":"command","command":"say done"}]}]}})",
      R"({"hooks":{"PostToolUse":[{"matcher":"Edit","hooks":[{"type":"command","command":"fmt"}]}]},"env":{"A":"1"}})",
      R"({"version":1,"hooks":{"stop":[{"command":"say done"}],"afterFileEdit":[{"command":"fmt"}]}})",
  };
  for (Agent agent : {Agent::kClaudeCode, Agent::kCursor}) {
    for (const char* text : cases) {
      SCOPED_TRACE(text);
      boost::json::object settings = Parse(text);
      std::string error;
      ASSERT_EQ(ApplyHooks(settings, agent, kBridge, &error), true);
      if (agent == Agent::kCursor && Parse(text).if_contains("version")) {
        EXPECT_EQ(settings.begin()->key(), "version");
      }
      ASSERT_EQ(ApplyHooks(settings, agent, "", &error), true);
      boost::json::object expected = Parse(text);
      if (agent == Agent::kCursor && !expected.contains("version")) {
        // The version an install adds stays: Cursor wants it anyway.
        settings.stable_erase("version");
      }
      EXPECT_EQ(boost::json::serialize(settings),
                boost::json::serialize(expected));
      EXPECT_EQ(ApplyHooks(settings, agent, "", &error), false);
    }
  }
}

}  // namespace
}  // namespace vesk
