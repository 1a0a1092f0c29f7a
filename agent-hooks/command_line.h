// The command line of vesk-agent-hooks: its usage text, and the parsing and
// checks that need no file. Pure functions of their arguments, safe on any
// thread.
#ifndef VESK_AGENT_HOOKS_COMMAND_LINE_H_
#define VESK_AGENT_HOOKS_COMMAND_LINE_H_

#include <optional>
#include <string>

namespace vesk {

// The usage, as printed for --help and after a usage error.
extern const char kAgentHooksUsage[];

struct Options {
  std::string command;        // install, uninstall or print
  std::string agent = "all";  // claude-code, cursor or all
  std::string bridge;         // empty: the VeskAgentBridge beside the program
  std::string claudeVersion;  // empty: ask `claude --version`
  bool allowRoot = false;
  bool dryRun = false;
};

// What the command line asks for: the usage, the version, or a command.
struct CommandLine {
  bool help = false;
  bool version = false;
  Options options;
};

// Parses the arguments with getopt_long (GNU forms: "--agent=cursor" or
// "--agent cursor", options before or after the command, "--" ends the
// options, -h is --help); --help and --version anywhere win over the rest,
// but a value that looks like an option ("--bridge --help") is a value.
// Otherwise the command must be install, uninstall or print, the agent one
// the installer knows, and the options fit the command. Returns nullopt
// with `*error` saying what is wrong for a usage error. Uses getopt_long's
// globals: call from one thread at a time.
std::optional<CommandLine> parseCommandLine(int argc, char** argv,
                                            std::string* error);

}  // namespace vesk

#endif  // VESK_AGENT_HOOKS_COMMAND_LINE_H_
