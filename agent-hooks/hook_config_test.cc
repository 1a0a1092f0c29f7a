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

std::string readFile(const std::string& path) {
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
        readFile(std::string(VESK_AGENT_HOOKS_TEMPLATES) + "/" + c.file);
    EXPECT_EQ(formatJson(hookTemplate(c.agent, kBridge)), shipped);
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
    auto changed = applyHooks(settings, c.agent, kBridge, &error);
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
    EXPECT_EQ(applyHooks(again, c.agent, kBridge, &error), false);
  }
}

}  // namespace
}  // namespace vesk
