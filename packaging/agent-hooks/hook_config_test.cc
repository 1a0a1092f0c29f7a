#include "hook_config.h"

#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "hook_table.h"
#include "json_format.h"

namespace vesk {
namespace {

constexpr char kBridge[] = "/usr/bin/VeskAgentBridge";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
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

TEST(BridgeCommandTest, RecognisesOwnCommandsOnly) {
  for (const char* path :
       {"/opt/Vesk Tools/VeskAgentBridge", "/home/o'neil/bin/VeskAgentBridge",
        "/a/$HOME/VeskAgentBridge"}) {
    std::string command = BridgeCommand(path, Agent::kCursor, "idle");
    EXPECT_TRUE(IsBridgeCommand(command)) << command;
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
      {"/usr/local/bin/VeskAgentBridge;echo x", true},
      {"echo VeskAgentBridge", false},
      {"/usr/bin/VeskAgentBridgeOld 'Claude Code' idle", false},
      {"/usr/bin/VeskAgentBridge/other idle", false},
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
    boost::json::object settings = boost::json::parse(c.before).as_object();
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

}  // namespace
}  // namespace vesk
