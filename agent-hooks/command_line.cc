#include "command_line.h"

#include <cstring>

#include "hook_table.h"

namespace vesk {
namespace {

// A known command and agent, and options that fit the command.
bool checkOptions(const Options& options, std::string* error) {
  const std::string& command = options.command;
  if (command.empty()) {
    *error = "no command given";
  } else if (command != "install" && command != "uninstall" &&
             command != "print") {
    *error = "unknown command \"" + command + "\"";
  } else if (options.agent != "all" && !agentFromOption(options.agent)) {
    *error = "unknown agent \"" + options.agent + "\"";
  } else if (command == "print" && options.agent == "all") {
    *error = "print needs --agent claude-code or --agent cursor";
  } else if (command == "print" && options.dryRun) {
    *error = "--dry-run goes with install and uninstall";
  } else {
    return true;
  }
  return false;
}

}  // namespace

const char kAgentHooksUsage[] =
    "usage: vesk-agent-hooks install   [--agent claude-code|cursor|all] "
    "[--bridge PATH]\n"
    "                                  [--allow-root] [--dry-run]\n"
    "       vesk-agent-hooks uninstall [--agent claude-code|cursor|all] "
    "[--allow-root]\n"
    "                                  [--dry-run]\n"
    "       vesk-agent-hooks print      --agent claude-code|cursor "
    "[--bridge PATH]\n"
    "       vesk-agent-hooks --help | --version\n"
    "\n"
    "install    adds VeskAgentBridge's hooks to ~/.claude/settings.json and\n"
    "           ~/.cursor/hooks.json, keeping everything else in them\n"
    "uninstall  removes only those hooks again\n"
    "print      writes one agent's hook configuration to standard output\n"
    "\n"
    "--agent    which agent; \"all\" (the default) skips an agent whose\n"
    "           folder (~/.claude, ~/.cursor) does not exist\n"
    "--bridge   absolute path of VeskAgentBridge; default: the one next to\n"
    "           this program\n"
    "--allow-root  change the settings in $HOME even when run as root (the\n"
    "           agents read the settings of the user they run as)\n"
    "--dry-run  check everything and show the changes, but change nothing\n";

std::optional<CommandLine> parseCommandLine(int argc, char** argv,
                                            std::string* error) {
  CommandLine line;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 ||
        std::strcmp(argv[i], "-h") == 0) {
      line.help = true;
      return line;
    }
    if (std::strcmp(argv[i], "--version") == 0) line.version = true;
  }
  if (line.version) return line;
  Options& options = line.options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string* value = nullptr;
    if (arg == "--allow-root") {
      options.allowRoot = true;
    } else if (arg == "--dry-run") {
      options.dryRun = true;
    } else if (arg == "--agent") {
      value = &options.agent;
    } else if (arg == "--bridge") {
      value = &options.bridge;
    } else if (arg.starts_with("-") || !options.command.empty()) {
      *error = "unknown argument \"" + arg + "\"";
      return std::nullopt;
    } else {
      options.command = arg;
    }
    if (value == nullptr) continue;
    if (i + 1 >= argc) {
      *error = arg + " needs a value";
      return std::nullopt;
    }
    *value = argv[++i];
  }
  if (!checkOptions(options, error)) return std::nullopt;
  return line;
}

}  // namespace vesk
