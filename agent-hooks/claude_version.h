// Asks the Claude Code on PATH for its version: runs `claude --version`
// (standard input from /dev/null, standard error discarded) and reads the
// first "X.Y.Z" it prints. Gives up after kClaudeVersionTimeout, killing the
// program, and reads at most a few kilobytes of its output. Runs on the
// calling thread and waits for the child it started.
#ifndef VESK_AGENT_HOOKS_CLAUDE_VERSION_H_
#define VESK_AGENT_HOOKS_CLAUDE_VERSION_H_

#include <chrono>
#include <optional>
#include <string>

#include "hook_table.h"

namespace vesk {

inline constexpr std::chrono::seconds kClaudeVersionTimeout{10};

// The version, or nullopt with `*why` saying what went wrong ("claude is
// not on PATH", "claude --version printed no version").
std::optional<AgentVersion> askClaudeVersion(std::string* why);

}  // namespace vesk

#endif  // VESK_AGENT_HOOKS_CLAUDE_VERSION_H_
