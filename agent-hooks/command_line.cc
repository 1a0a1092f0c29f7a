#include "command_line.h"

#include <getopt.h>

#include <string_view>
#include <vector>

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
  } else if (!options.claudeVersion.empty() &&
             !AgentVersion::parse(options.claudeVersion)) {
    *error = "--claude-version needs a version such as 2.1.78, not \"" +
             options.claudeVersion + "\"";
  } else {
    return true;
  }
  return false;
}

}  // namespace

const char kAgentHooksUsage[] =
    "usage: vesk-agent-hooks install   [--agent claude-code|cursor|all] "
    "[--bridge PATH]\n"
    "                                  [--claude-version VERSION] "
    "[--allow-root]\n"
    "                                  [--dry-run]\n"
    "       vesk-agent-hooks uninstall [--agent claude-code|cursor|all] "
    "[--allow-root]\n"
    "                                  [--dry-run]\n"
    "       vesk-agent-hooks print      --agent claude-code|cursor "
    "[--bridge PATH]\n"
    "                                  [--claude-version VERSION]\n"
    "       vesk-agent-hooks -h | --help | --version\n"
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
    "--claude-version  the Claude Code version to write entries for;\n"
    "           default: what `claude --version` says, or without claude\n"
    "           on PATH only the events every version since 1.0.85 knows\n"
    "--allow-root  change the settings in $HOME even when run as root,\n"
    "           as the owner of $HOME (the agents read the settings of the\n"
    "           user they run as)\n"
    "--dry-run  check everything and show the changes as a diff that\n"
    "           patch(1) applies, but change nothing\n"
    "\n"
    "Exit status: 0 done, 1 failed (nothing changed), 2 usage error,\n"
    "3 no agent folder found (nothing to do).\n";

namespace {

// Starts getopt_long afresh: optind 0 makes both glibc's and the BSD
// getopt_long (macOS) reset their state, a process may parse more than one
// command line.
void resetGetopt() {
  optind = 0;
  opterr = 0;
}

enum OptionId {
  kAgent = 1,
  kBridge,
  kClaudeVersion,
  kAllowRoot,
  kDryRun,
  kHelp,
  kVersion
};

constexpr option kLongOptions[] = {
    {"agent", required_argument, nullptr, kAgent},
    {"bridge", required_argument, nullptr, kBridge},
    {"claude-version", required_argument, nullptr, kClaudeVersion},
    {"allow-root", no_argument, nullptr, kAllowRoot},
    {"dry-run", no_argument, nullptr, kDryRun},
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

// The option getopt_long just refused, as the user wrote it.
std::string refusedOption(char* const* args) {
  // Long options carry ids below ' '; a short one is its own letter.
  if (optopt >= ' ') return std::string("-") + static_cast<char>(optopt);
  std::string_view arg = args[optind - 1];
  return std::string(arg.substr(0, arg.find('=')));
}

}  // namespace

std::optional<CommandLine> parseCommandLine(int argc, char** argv,
                                            std::string* error) {
  CommandLine line;
  Options& options = line.options;
  std::string firstError;
  // getopt_long reorders its argument vector; it gets a copy.
  std::vector<char*> args(argv, argv + argc);
  args.push_back(nullptr);
  resetGetopt();
  for (int id; (id = getopt_long(argc, args.data(), ":h", kLongOptions,
                                 nullptr)) != -1;) {
    std::string problem;
    if (id == 'h' || id == kHelp) {
      line.help = true;
    } else if (id == kVersion) {
      line.version = true;
    } else if (id == kAllowRoot) {
      options.allowRoot = true;
    } else if (id == kDryRun) {
      options.dryRun = true;
    } else if (id == kAgent) {
      options.agent = optarg;
    } else if (id == kBridge) {
      options.bridge = optarg;
    } else if (id == kClaudeVersion) {
      options.claudeVersion = optarg;
    } else if (id == ':') {
      problem = refusedOption(args.data()) + " needs a value";
    } else {
      problem = "unknown argument \"" + refusedOption(args.data()) + "\"";
    }
    if (firstError.empty()) firstError = problem;
  }
  if (line.help || line.version) return line;
  for (int i = optind; i < argc && firstError.empty(); ++i) {
    if (options.command.empty()) {
      options.command = args[i];
    } else {
      firstError = "unknown argument \"" + std::string(args[i]) + "\"";
    }
  }
  *error = firstError;
  if (!error->empty() || !checkOptions(options, error)) return std::nullopt;
  return line;
}

}  // namespace vesk
