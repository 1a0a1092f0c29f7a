#include "hook_config.h"

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "hook_table.h"
#include "json_layout.h"

namespace vesk {
namespace {

constexpr char kBridge[] = "/usr/bin/VeskAgentBridge";
constexpr AgentVersion kLatest{9, 9, 9};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string fixture(const std::string& name) {
  return readFile(std::string(VESK_AGENT_HOOKS_FIXTURES) + "/" + name);
}

// Installs (or, with an empty bridge, uninstalls) on `text`; fails the test
// when the file is refused.
std::string edit(const std::string& text, Agent agent,
                 std::string_view bridge = kBridge,
                 AgentVersion version = kLatest) {
  std::string error;
  std::optional<JsonNode> layout;
  if (text.find_first_not_of(" \t\r\n") != std::string::npos) {
    layout = scanJson(text, &error);
    EXPECT_TRUE(layout) << error;
    if (!layout) return text;
  }
  std::vector<HookRow> rows = hookRows(agent, version);
  auto out = editHooks(text, layout ? &*layout : nullptr, agent, rows, bridge,
                       &error);
  EXPECT_TRUE(out) << error;
  return out.value_or(text);
}

// The (event, matcher, command) of every entry of ours in `text`.
std::vector<std::string> ourEntries(const std::string& text) {
  std::vector<std::string> found;
  boost::json::value settings = boost::json::parse(text);
  for (const auto& [event, list] : settings.at("hooks").get_object()) {
    for (const auto& entry : list.get_array()) {
      const auto& group = entry.get_object();
      const boost::json::value* inner = group.if_contains("hooks");
      boost::json::array hooks = inner ? inner->get_array()
                                       : boost::json::array{entry};
      const boost::json::value* matcher = group.if_contains("matcher");
      for (const auto& hook : hooks) {
        std::string command(hook.at("command").get_string());
        if (!isBridgeCommand(command)) continue;
        found.push_back(std::string(event) + " " +
                        (matcher ? std::string(matcher->get_string()) : "") +
                        " " + command + " " +
                        boost::json::serialize(hook.at("timeout")));
      }
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

// The shipped templates are the table written out for the packaged path; a
// change to one without the other fails here.
TEST(HookTemplateTest, ShippedTemplatesMatchTheTable) {
  for (auto [agent, file] : {std::pair{Agent::kClaudeCode, "claude-settings.json"},
                             std::pair{Agent::kCursor, "cursor-hooks.json"}}) {
    SCOPED_TRACE(file);
    std::string shipped =
        readFile(std::string(VESK_AGENT_HOOKS_TEMPLATES) + "/" + file);
    EXPECT_EQ(hookTemplate(agent, hookRows(agent, kLatest), kBridge), shipped);
  }
}

// On every fixture: an install adds exactly the table's entries, a second
// install changes nothing, and an uninstall gives back the file byte for
// byte, whatever its layout, escapes, numbers and duplicate keys.
TEST(EditHooksTest, InstallThenUninstallGivesBackEveryByte) {
  struct Case {
    const char* fixture;
    Agent agent;
  } cases[] = {
      {"claude-pretty.json", Agent::kClaudeCode},
      {"claude-compact.json", Agent::kClaudeCode},
      {"claude-duplicates-crlf-tabs.json", Agent::kClaudeCode},
      {"claude-no-hooks.json", Agent::kClaudeCode},
      {"empty-object.json", Agent::kClaudeCode},
      {"cursor-pretty.json", Agent::kCursor},
      {"empty-object.json", Agent::kCursor},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    std::string original = fixture(c.fixture);
    std::string installed = edit(original, c.agent);
    std::string wanted = hookTemplate(c.agent, hookRows(c.agent, kLatest),
                                      kBridge);
    EXPECT_EQ(ourEntries(installed), ourEntries(wanted)) << installed;
    EXPECT_EQ(edit(installed, c.agent), installed);
    EXPECT_EQ(edit(installed, c.agent, ""), original) << installed;
  }
}

// What an install keeps and writes, where the result is not simply the
// original plus the table.
TEST(EditHooksTest, InstallKeepsOtherBytesAndFollowsTheLayout) {
  struct Case {
    const char* name;
    std::string before;
    Agent agent;
    std::vector<std::string> present;  // substrings of the result
    std::vector<std::string> absent;
  } cases[] = {
      {"compact stays on one line", fixture("claude-compact.json"),
       Agent::kClaudeCode,
       {R"("cleanupPeriodDays":30})", R"(,"Stop":[{"hooks":[{"type":"command",)"},
       {"\n  "}},
      {"CRLF and tabs, the last duplicate edited",
       fixture("claude-duplicates-crlf-tabs.json"), Agent::kClaudeCode,
       {"\r\n\t\t\"Stop\": [\r\n\t\t\t{\r\n\t\t\t\t\"hooks\": [",
        "\t\"hooks\": {\r\n\t\t\"Stop\": [{\"hooks\": [{\"type\": \"command\", "
        "\"command\": \"say done\"}]}]\r\n\t},"},
       {"\n  "}},
      {"numbers and escapes kept", fixture("claude-pretty.json"),
       Agent::kClaudeCode,
       {"12345678901234567890123", "1e400", R"(Gr\u00fc\u00df dich \ud83d\ude00)"},
       {"Infinity", "e+22"}},
      {"stale entries of ours replaced, others kept",
       fixture("claude-old-install.json"), Agent::kClaudeCode,
       {R"({"type": "command", "command": "afplay done.aiff"})"},
       {"/old/", "SubagentStop", "'Claude Code' idle\", \"timeout\": 10}]}"}},
      {"Cursor version put first, no final newline added",
       fixture("cursor-compact-no-version.json"), Agent::kCursor,
       {R"({"version":1,"hooks":{"afterFileEdit":[{"command":"./f.sh","timeout":5},)",
        R"(},"limit":1E+2})"},
       {"\n"}},
      {"four-space file gets four-space entries",
       fixture("claude-no-hooks.json"), Agent::kClaudeCode,
       {"\"feedbackSurveyRate\": 0.05,\n    \"hooks\": {\n        \"SessionStart\": ["},
       {}},
      {"missing file gets the template", "", Agent::kCursor,
       {"{\n  \"version\": 1,\n  \"hooks\": {\n    \"beforeSubmitPrompt\": [\n"},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string after = edit(c.before, c.agent);
    for (const std::string& s : c.present) EXPECT_NE(after.find(s), std::string::npos) << s << "\n" << after;
    for (const std::string& s : c.absent) EXPECT_EQ(after.find(s), std::string::npos) << s << "\n" << after;
    EXPECT_EQ(edit(after, c.agent), after);
  }
}

// Claude Code skips a whole settings file naming an event it does not know,
// so each version gets only its events, and a later install for an older
// version takes out the events it does not know.
TEST(EditHooksTest, ClaudeEventsFollowTheVersion) {
  struct Case {
    AgentVersion version;
    std::vector<std::string> events;
  } cases[] = {
      {{1, 0, 40}, {}},
      {kAssumedClaudeCode,
       {"SessionStart", "UserPromptSubmit", "PreToolUse", "PostToolUse",
        "Notification", "Stop", "SessionEnd"}},
      {{2, 1, 77},
       {"SessionStart", "UserPromptSubmit", "PreToolUse", "PermissionRequest",
        "PostToolUse", "PostToolUseFailure", "Notification", "Stop",
        "SessionEnd"}},
      {{2, 1, 78},
       {"SessionStart", "UserPromptSubmit", "PreToolUse", "PermissionRequest",
        "PostToolUse", "PostToolUseFailure", "Notification", "Stop",
        "StopFailure", "SessionEnd"}},
  };
  std::string latest = edit(fixture("claude-pretty.json"), Agent::kClaudeCode);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version.text());
    std::vector<std::string> events;
    for (const HookRow& row : hookRows(Agent::kClaudeCode, c.version)) {
      events.emplace_back(row.event);
    }
    EXPECT_EQ(events, c.events);
    std::string older = edit(latest, Agent::kClaudeCode, kBridge, c.version);
    boost::json::object hooks =
        boost::json::parse(older).at("hooks").get_object();
    for (const HookRow& row : hookTable(Agent::kClaudeCode)) {
      bool written = std::find(events.begin(), events.end(), row.event) !=
                     events.end();
      bool foreign = row.event == "PostToolUse" || row.event == "Stop";
      EXPECT_EQ(hooks.contains(row.event), written || foreign) << row.event;
    }
  }
}

TEST(EditHooksTest, RefusesWhatTheAgentWouldNotReadEither) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"{\n  // mine\n  \"model\": \"opus\"\n}\n", "line 2, column 3: a comment"},
      {"{\"model\": /* x */ 1}", "line 1, column 11: a comment"},
      {"{\"model\": \"opus\",}", "line 1, column 18"},
      {"{\"hooks\": {\"Stop\": [", "line 1, column 21"},
      {"[1, 2]", "does not hold a JSON object"},
      {"{\"hooks\": []}", "\"hooks\" is not a JSON object"},
      {"{\"hooks\": {\"Stop\": {}}}", "\"hooks\".\"Stop\" is not a JSON array"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    std::optional<JsonNode> layout = scanJson(c.text, &error);
    if (layout) {
      std::vector<HookRow> rows = hookRows(Agent::kCursor, kLatest);
      EXPECT_FALSE(editHooks(c.text, &*layout, Agent::kCursor, rows, kBridge,
                             &error));
    }
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

TEST(AgentVersionTest, ReadsWhatClaudePrints) {
  struct Case {
    const char* text;
    std::optional<AgentVersion> version;
  } cases[] = {
      {"2.1.78 (Claude Code)\n", AgentVersion{2, 1, 78}},
      {"claude 1.0.120\n", AgentVersion{1, 0, 120}},
      {"v10.20.30-beta", AgentVersion{10, 20, 30}},
      {"2.1", std::nullopt},
      {"build 12.3 then 4.5.6", AgentVersion{4, 5, 6}},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AgentVersion::parse(c.text), c.version) << c.text;
  }
  EXPECT_LT((AgentVersion{2, 0, 45}), (AgentVersion{2, 1, 0}));
}

}  // namespace
}  // namespace vesk
