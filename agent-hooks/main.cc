// vesk-agent-hooks: wires VeskAgentBridge into the coding agents' user
// settings (~/.claude/settings.json for Claude Code, ~/.cursor/hooks.json for
// Cursor), or takes it out again.
//
// The settings are those in $HOME, which must be an absolute path: the agents
// read the settings of the user they run as, so the home folder is never
// guessed, and root (whose agents are rarely the ones meant) is refused
// unless --allow-root says so.
//
// The files change together or not at all: every one is read, merged and
// checked (parsed, writable, links leading somewhere), then every new version
// and backup is written beside its file, and only then are they renamed into
// place. When any step before the renames fails, what was made is removed,
// nothing changes anywhere and the exit status is 1. A file already in the
// wanted state is left alone, so running the command twice changes nothing
// the second time. --dry-run stops after the checks and shows the changes.
//
// Exit status: 0 on success, 1 when the settings could not be changed, 2 for
// a usage error. Messages for people go to standard output, failures (each
// naming the file and the reason) to standard error.
#include <sys/stat.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "command_line.h"
#include "hook_config.h"
#include "hook_table.h"
#include "json_format.h"
#include "settings_file.h"
#include "text_diff.h"

namespace {

using vesk::Options;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// Backups kept per settings file; older ones are removed after a change.
constexpr size_t kBackupsKept = 3;

// HOME, when it names an existing folder by an absolute path. There is no
// fallback: without HOME the agents would not find their settings either,
// and a guess (the password database's entry for root under sudo, say)
// would change someone else's.
std::optional<std::filesystem::path> homeDirectory() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    std::fprintf(stderr,
                 "vesk-agent-hooks: HOME is not set (or empty); it must name "
                 "your home folder. Nothing was changed.\n");
    return std::nullopt;
  }
  if (home[0] != '/') {
    std::fprintf(stderr,
                 "vesk-agent-hooks: HOME is not an absolute path: \"%s\". "
                 "Nothing was changed.\n",
                 home);
    return std::nullopt;
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(home, ec)) {
    std::fprintf(stderr,
                 "vesk-agent-hooks: HOME is not a folder: %s. Nothing was "
                 "changed.\n",
                 home);
    return std::nullopt;
  }
  return std::filesystem::path(home);
}

// The agents run as the user and read that user's settings: root changing
// its own (or, under sudo, someone's) settings is rarely what was meant, so
// it takes --allow-root, and then says whose settings it changes.
bool checkRoot(const Options& options, const std::filesystem::path& home) {
  if (geteuid() != 0) return true;
  struct stat st;
  std::string owner = stat(home.c_str(), &st) == 0
                          ? "owned by uid " + std::to_string(st.st_uid)
                          : "owner unknown";
  if (!options.allowRoot) {
    std::fprintf(stderr,
                 "vesk-agent-hooks: refusing to run as root: the agents read "
                 "the settings of the user they run as. Run it as that user "
                 "(not with sudo), or pass --allow-root to change the "
                 "settings in HOME=%s (%s). Nothing was changed.\n",
                 home.c_str(), owner.c_str());
    return false;
  }
  std::fprintf(stderr,
               "vesk-agent-hooks: running as root: %s the settings in "
               "HOME=%s (%s)\n",
               options.dryRun ? "would change" : "changing", home.c_str(),
               owner.c_str());
  return true;
}

// The VeskAgentBridge next to this program, or nullopt with a message.
std::optional<std::string> defaultBridge() {
#if defined(__APPLE__)
  constexpr char kSelf[] = "_NSGetExecutablePath";
  char buffer[4096];
  uint32_t size = sizeof buffer;
  std::error_code ec = _NSGetExecutablePath(buffer, &size) == 0
                           ? std::error_code()
                           : std::make_error_code(std::errc::filename_too_long);
  std::filesystem::path self;
  if (!ec) self = std::filesystem::canonical(buffer, ec);
#else
  constexpr char kSelf[] = "/proc/self/exe";
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink(kSelf, ec);
#endif
  if (ec) {
    std::fprintf(stderr,
                 "vesk-agent-hooks: cannot find this program's folder (%s: "
                 "%s); pass --bridge\n",
                 kSelf, ec.message().c_str());
    return std::nullopt;
  }
  return (self.parent_path() / vesk::kBridgeProgramName).string();
}

// Checks that `path` can serve as the hook command: absolute, named
// VeskAgentBridge (the installer finds its entries by that name), and an
// executable file.
bool checkBridge(const std::string& path) {
  std::filesystem::path p(path);
  if (!p.is_absolute()) {
    std::fprintf(stderr, "vesk-agent-hooks: --bridge must be absolute: %s\n",
                 path.c_str());
    return false;
  }
  if (p.filename() != vesk::kBridgeProgramName) {
    std::fprintf(stderr, "vesk-agent-hooks: the bridge must be named %s: %s\n",
                 std::string(vesk::kBridgeProgramName).c_str(), path.c_str());
    return false;
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(p, ec) ||
      access(path.c_str(), X_OK) != 0) {
    std::fprintf(stderr,
                 "vesk-agent-hooks: no executable VeskAgentBridge at %s\n"
                 "(install the package or run cmake --install first, or "
                 "name it with --bridge)\n",
                 path.c_str());
    return false;
  }
  return true;
}

std::filesystem::path settingsPath(const std::filesystem::path& home,
                                   vesk::Agent agent) {
  if (agent == vesk::Agent::kClaudeCode) {
    return home / ".claude" / "settings.json";
  }
  return home / ".cursor" / "hooks.json";
}

std::vector<vesk::Agent> agentsFor(const Options& options) {
  if (options.agent == "all") {
    return {vesk::Agent::kClaudeCode, vesk::Agent::kCursor};
  }
  return {*vesk::agentFromOption(options.agent)};
}

// One settings file's change: the file as read, its settings merged, and
// what staging wrote for it.
struct Plan {
  vesk::Agent agent = vesk::Agent::kClaudeCode;
  std::string name;  // the agent's name, for messages
  vesk::SettingsFile file;
  std::string oldText;  // the settings as read, formatted
  bool changed = false;
  std::string text;  // the new file, when changed
  vesk::StagedFile staged;
};

// Reads, merges and checks the settings of one agent. Returns nullopt after
// printing why when the file cannot be changed.
std::optional<Plan> planChange(const Options& options, vesk::Agent agent,
                               const std::filesystem::path& path,
                               const std::string& bridge) {
  Plan plan;
  plan.agent = agent;
  plan.name = vesk::agentName(agent);
  std::string error;
  auto file = vesk::readSettingsFile(path, &error);
  if (!file) {
    std::fprintf(stderr,
                 "vesk-agent-hooks: %s: %s\nNothing was changed. Fix the "
                 "file (or move it away) and run the command again.\n",
                 plan.name.c_str(), error.c_str());
    return std::nullopt;
  }
  plan.file = std::move(*file);
  plan.oldText = plan.file.exists ? vesk::formatJson(plan.file.settings) : "";
  auto changed = vesk::applyHooks(
      plan.file.settings, agent,
      options.command == "install" ? bridge : std::string(), &error);
  if (!changed) {
    std::fprintf(stderr,
                 "vesk-agent-hooks: %s: %s: %s\nNothing was changed. Fix "
                 "the file and run the command again.\n",
                 plan.name.c_str(), plan.file.path.c_str(), error.c_str());
    return std::nullopt;
  }
  plan.changed = *changed;
  if (!plan.changed) return plan;
  if (!vesk::checkReplaceable(plan.file, &error)) {
    std::fprintf(stderr,
                 "vesk-agent-hooks: %s: %s\nNothing was changed. Make it "
                 "writable (or move it away) and run the command again.\n",
                 plan.name.c_str(), error.c_str());
    return std::nullopt;
  }
  plan.text = vesk::formatJson(plan.file.settings);
  return plan;
}

// Plans every agent's change before anything is written. With --agent all,
// an agent whose folder is missing is skipped (and stays missing).
std::optional<std::vector<Plan>> planChanges(const Options& options,
                                             const std::filesystem::path& home,
                                             const std::string& bridge) {
  std::vector<Plan> plans;
  for (vesk::Agent agent : agentsFor(options)) {
    std::filesystem::path path = settingsPath(home, agent);
    std::error_code ec;
    if (options.agent == "all" &&
        !std::filesystem::is_directory(path.parent_path(), ec)) {
      std::printf("%s: %s not found, skipped (use --agent %s to %s anyway)\n",
                  std::string(vesk::agentName(agent)).c_str(),
                  path.parent_path().c_str(),
                  std::string(vesk::agentOption(agent)).c_str(),
                  options.command.c_str());
      continue;
    }
    auto plan = planChange(options, agent, path, bridge);
    if (!plan) return std::nullopt;
    plans.push_back(std::move(*plan));
  }
  return plans;
}

const char* doneText(const Options& options) {
  return options.command == "install" ? "up to date"
                                      : "free of VeskAgentBridge hooks";
}

// Shows what the command would change, as a diff of each file's settings.
void printDryRun(const Options& options, const std::vector<Plan>& plans) {
  for (const Plan& plan : plans) {
    const char* path = plan.file.path.c_str();
    if (!plan.changed) {
      std::printf("%s: %s already %s\n", plan.name.c_str(), path,
                  doneText(options));
      continue;
    }
    std::printf(
        "%s: would %s %s\n--- %s\n+++ %s\n%s", plan.name.c_str(),
        options.command == "install" ? "install hooks in" : "remove hooks from",
        path, plan.file.exists ? path : "/dev/null", path,
        vesk::unifiedDiff(plan.oldText, plan.text).c_str());
    if (plan.file.exists && plan.file.text != plan.oldText) {
      std::printf("%s: the rest of %s would be re-indented too\n",
                  plan.name.c_str(), path);
    }
  }
  std::printf("Dry run: nothing was changed.\n");
}

// Writes every new version and backup beside its file; when one fails,
// takes back what was written so that no file changes.
bool stageAll(std::vector<Plan>& plans) {
  for (size_t i = 0; i < plans.size(); ++i) {
    if (!plans[i].changed) continue;
    std::string error;
    auto staged = vesk::stageSettingsFile(plans[i].file, plans[i].text, &error);
    if (!staged) {
      for (size_t j = 0; j < i; ++j) vesk::discardStaged(plans[j].staged);
      std::fprintf(stderr, "vesk-agent-hooks: %s: %s\nNothing was changed.\n",
                   plans[i].name.c_str(), error.c_str());
      return false;
    }
    plans[i].staged = std::move(*staged);
  }
  return true;
}

// Renames every staged file into place, then trims its backups.
bool commitAll(const Options& options, const std::vector<Plan>& plans) {
  for (size_t i = 0; i < plans.size(); ++i) {
    const Plan& plan = plans[i];
    const char* path = plan.file.path.c_str();
    if (!plan.changed) {
      std::printf("%s: %s already %s\n", plan.name.c_str(), path,
                  doneText(options));
      continue;
    }
    std::string error;
    if (!vesk::commitSettingsFile(plan.file, plan.staged, &error)) {
      // A rename in a folder just written to: failing here is rare. The
      // files not yet renamed keep their old content.
      for (size_t j = i + 1; j < plans.size(); ++j) {
        vesk::discardStaged(plans[j].staged);
      }
      std::fprintf(stderr, "vesk-agent-hooks: %s: %s\n", plan.name.c_str(),
                   error.c_str());
      return false;
    }
    std::string backupNote;
    if (plan.staged.backup) {
      backupNote = " (backup: " + plan.staged.backup->string() + ")";
    }
    std::printf("%s: %s %s%s\n", plan.name.c_str(),
                options.command == "install" ? "hooks installed in"
                                             : "hooks removed from",
                path, backupNote.c_str());
    // The change is made; an old backup left behind is only clutter.
    if (!vesk::pruneBackups(plan.file, kBackupsKept, &error)) {
      std::fprintf(stderr, "vesk-agent-hooks: %s: %s\n", plan.name.c_str(),
                   error.c_str());
    }
  }
  return true;
}

// Claude Code skips every hook while "disableAllHooks" is set; say so
// rather than leave the user wondering.
void noteDisabledHooks(const std::vector<Plan>& plans) {
  for (const Plan& plan : plans) {
    const boost::json::value* off =
        plan.file.settings.if_contains("disableAllHooks");
    if (plan.agent == vesk::Agent::kClaudeCode && off != nullptr &&
        off->is_bool() && off->get_bool()) {
      std::printf(
          "%s: note: %s sets \"disableAllHooks\": true, so Claude "
          "Code runs none of them\n",
          plan.name.c_str(), plan.file.path.c_str());
    }
  }
}

int run(const Options& options) {
  std::string bridge = options.bridge;
  if (options.command != "uninstall" && bridge.empty()) {
    auto found = defaultBridge();
    if (!found) return kExitFailure;
    bridge = *found;
  }
  if (options.command == "print") {
    auto agent = *vesk::agentFromOption(options.agent);
    std::fputs(vesk::formatJson(vesk::hookTemplate(agent, bridge)).c_str(),
               stdout);
    return 0;
  }
  if (options.command == "install" && !checkBridge(bridge)) return kExitFailure;

  auto home = homeDirectory();
  if (!home || !checkRoot(options, *home)) return kExitFailure;
  auto plans = planChanges(options, *home, bridge);
  if (!plans) return kExitFailure;
  if (options.dryRun) {
    printDryRun(options, *plans);
    return 0;
  }
  if (!stageAll(*plans) || !commitAll(options, *plans)) return kExitFailure;
  if (options.command == "install") noteDisabledHooks(*plans);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto line = vesk::parseCommandLine(argc, argv, &error);
  if (!line) {
    std::fprintf(stderr, "vesk-agent-hooks: %s\n%s", error.c_str(),
                 vesk::kAgentHooksUsage);
    return kExitUsage;
  }
  if (line->help) {
    std::fputs(vesk::kAgentHooksUsage, stdout);
    return 0;
  }
  if (line->version) {
    std::printf("vesk-agent-hooks %s\n", VESK_VERSION);
    return 0;
  }
  return run(line->options);
}
