#include "hook_table.h"

#include <cctype>
#include <charconv>

namespace vesk {
namespace {

// Claude Code. PreToolUse is wired only for the two tools that ask the user
// (the hook raises them to needsAttention); every other tool is covered by
// PostToolUse, and a narrow matcher keeps the entry from acting as a silent
// permission hook when Cursor loads this file as a third-party config.
// Notification is wired only for the types the hook keeps; it drops the rest.
// Each event's first release is taken from Claude Code's changelog.
// PostToolUseFailure is never announced there; 2.1.33 is taken as a safe
// bound: lists of hook events name it before TeammateIdle, which 2.1.33
// added.
constexpr HookRow kClaudeCode[] = {
    {"SessionStart", "startup|resume|clear", "idle", {1, 0, 62}},
    {"UserPromptSubmit", "", "working", {1, 0, 54}},
    {"PreToolUse", "AskUserQuestion|ExitPlanMode", "working", {1, 0, 38}},
    {"PermissionRequest", "", "needsAttention", {2, 0, 45}},
    {"PostToolUse", "", "working", {1, 0, 38}},
    {"PostToolUseFailure", "", "working", {2, 1, 33}},
    {"Notification",
     "permission_prompt|elicitation_dialog|elicitation_url_dialog|"
     "agent_needs_input",
     "needsAttention", {1, 0, 38}},
    {"Stop", "", "idle", {1, 0, 38}},
    {"StopFailure", "", "idle", {2, 1, 78}},
    {"SessionEnd", "", "idle", {1, 0, 85}},
};

// Cursor. Only events whose empty answer is harmless: none of the permission
// hooks (preToolUse, beforeShellExecution, beforeMCPExecution,
// beforeReadFile, subagentStart), which treat an empty answer as a refusal.
constexpr HookRow kCursor[] = {
    {"beforeSubmitPrompt", "", "working", {}},
    {"postToolUse", "", "working", {}},
    {"postToolUseFailure", "", "working", {}},
    {"afterShellExecution", "", "working", {}},
    {"afterMCPExecution", "", "working", {}},
    {"afterFileEdit", "", "working", {}},
    {"stop", "", "idle", {}},
};

bool needsQuoting(std::string_view word) {
  for (char c : word) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                 (c >= '0' && c <= '9') || c == '/' || c == '.' || c == '_' ||
                 c == '-' || c == '+' || c == ',' || c == ':' || c == '@' ||
                 c == '%' || c == '=';
    if (!plain) return true;
  }
  return word.empty();
}

// Appends `word` to a shell command line, single-quoted when it holds
// anything the shell would interpret.
void appendShellWord(std::string& command, std::string_view word) {
  if (!needsQuoting(word)) {
    command.append(word);
    return;
  }
  command.push_back('\'');
  for (char c : word) {
    if (c == '\'') {
      command.append("'\\''");
    } else {
      command.push_back(c);
    }
  }
  command.push_back('\'');
}

// The first word of a POSIX shell command line with its quoting removed:
// single quotes, double quotes (with \" \\ \$ \` escapes) and backslashes.
std::string firstShellWord(std::string_view command) {
  size_t i = 0;
  while (i < command.size() && (command[i] == ' ' || command[i] == '\t')) ++i;
  std::string word;
  while (i < command.size()) {
    char c = command[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == ';' || c == '&' ||
        c == '|') {
      break;
    }
    if (c == '\'') {
      size_t end = command.find('\'', i + 1);
      if (end == std::string_view::npos) end = command.size();
      word.append(command.substr(i + 1, end - i - 1));
      i = end + 1;
    } else if (c == '"') {
      ++i;
      while (i < command.size() && command[i] != '"') {
        if (command[i] == '\\' && i + 1 < command.size() &&
            std::string_view("\"\\$`").find(command[i + 1]) !=
                std::string_view::npos) {
          ++i;
        }
        word.push_back(command[i]);
        ++i;
      }
      ++i;
    } else if (c == '\\' && i + 1 < command.size()) {
      word.push_back(command[i + 1]);
      i += 2;
    } else {
      word.push_back(c);
      ++i;
    }
  }
  return word;
}

}  // namespace

std::span<const HookRow> hookTable(Agent agent) {
  if (agent == Agent::kClaudeCode) return kClaudeCode;
  return kCursor;
}

std::vector<HookRow> hookRows(Agent agent, AgentVersion version) {
  std::vector<HookRow> rows;
  if (agent == Agent::kClaudeCode && version < kOldestClaudeCode) return rows;
  for (const HookRow& row : hookTable(agent)) {
    if (agent == Agent::kCursor || row.since <= version) rows.push_back(row);
  }
  return rows;
}

std::optional<AgentVersion> AgentVersion::parse(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (i > 0 && std::isdigit(static_cast<unsigned char>(text[i - 1]))) continue;
    AgentVersion version;
    int* parts[] = {&version.major, &version.minor, &version.patch};
    const char* p = text.data() + i;
    const char* end = text.data() + text.size();
    bool ok = true;
    for (int k = 0; k < 3 && ok; ++k) {
      auto [next, ec] = std::from_chars(p, end, *parts[k]);
      ok = ec == std::errc() && (k == 2 || (next < end && *next == '.'));
      p = next + (k < 2 ? 1 : 0);
    }
    if (ok) return version;
  }
  return std::nullopt;
}

std::string AgentVersion::text() const {
  return std::to_string(major) + "." + std::to_string(minor) + "." +
         std::to_string(patch);
}

std::string_view agentName(Agent agent) {
  return agent == Agent::kClaudeCode ? "Claude Code" : "Cursor";
}

std::string_view agentOption(Agent agent) {
  return agent == Agent::kClaudeCode ? "claude-code" : "cursor";
}

std::optional<Agent> agentFromOption(std::string_view option) {
  if (option == "claude-code") return Agent::kClaudeCode;
  if (option == "cursor") return Agent::kCursor;
  return std::nullopt;
}

std::string bridgeCommand(std::string_view bridgePath, Agent agent,
                          std::string_view baseState) {
  std::string command;
  appendShellWord(command, bridgePath);
  command.push_back(' ');
  appendShellWord(command, agentName(agent));
  command.push_back(' ');
  appendShellWord(command, baseState);
  return command;
}

bool isBridgeCommand(std::string_view command) {
  std::string word = firstShellWord(command);
  std::string_view name = word;
  size_t slash = name.rfind('/');
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  return name == kBridgeProgramName;
}

}  // namespace vesk
