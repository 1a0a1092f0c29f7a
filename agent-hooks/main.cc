// vesk-agent-hooks: wires VeskAgentBridge into the coding agents' user
// settings (~/.claude/settings.json for Claude Code, ~/.cursor/hooks.json for
// Cursor), or takes it out again.
//
// The settings are those in $HOME, which must be an absolute path: the agents
// read the settings of the user they run as, so the home folder is never
// guessed, and root (whose agents are rarely the ones meant) is refused
// unless --allow-root says so; then the program first becomes the owner of
// $HOME, so that it can create or change nothing that owner could not.
//
// A file is edited in place: only the bytes of the entries added or removed
// change (hook_config.h). The Claude Code entries are those the installed
// Claude Code knows (`claude --version`, or --claude-version), since Claude
// Code ignores a whole settings file naming an event it does not know.
//
// The files change together or not at all: every one is read, merged and
// checked (parsed, writable, links leading somewhere), then every new version
// and backup is written beside its file, each file is checked to still hold
// what was read (else everything is redone on the new content, a few times
// at most), and only then are they renamed into place. When any step before
// the renames fails (a full disk, a file-size limit), what was made is
// removed, nothing changes anywhere and the exit status is 1. A file already
// in the wanted state is left alone, so running the command twice changes
// nothing the second time. --dry-run stops after the checks and shows the
// changes as a unified diff.
//
// Exit status: 0 on success, 1 when the settings could not be changed, 2 for
// a usage error, 3 when no agent's folder exists (nothing to do). Messages
// for people go to standard output; failures (each naming the file and the
// reason) and notes on what was left out go to standard error.
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "claude_version.h"
#include "command_line.h"
#include "hook_config.h"
#include "hook_table.h"
#include "settings_file.h"
#include "text_diff.h"

namespace {

using vesk::Options;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoAgent = 3;
// A file another program changes while it is edited is read again; after
// this many tries the command gives up.
constexpr int kEditAttempts = 3;
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

// Becomes the owner of `home` (its uid, that user's groups): then every
// link is followed, and every file created or replaced, with no more rights
// than that user has, so nothing outside their reach can change.
bool becomeOwner(const std::filesystem::path& home, const struct stat& st) {
  gid_t gid = st.st_gid;
  struct passwd* user = getpwuid(st.st_uid);
  if (user != nullptr) gid = user->pw_gid;
  bool ok = (user != nullptr ? initgroups(user->pw_name, gid)
                             : setgroups(1, &gid)) == 0 &&
            setgid(gid) == 0 && setuid(st.st_uid) == 0;
  if (!ok || setuid(0) == 0) {
    std::fprintf(stderr,
                 "vesk-agent-hooks: cannot become uid %u, the owner of "
                 "HOME=%s: %s. Nothing was changed.\n",
                 static_cast<unsigned>(st.st_uid), home.c_str(),
                 std::strerror(errno));
    return false;
  }
  return true;
}

// The agents run as the user and read that user's settings: root changing
// its own (or, under sudo, someone's) settings is rarely what was meant, so
// it takes --allow-root, and then works as the owner of HOME and says so.
bool checkRoot(const Options& options, const std::filesystem::path& home) {
  if (geteuid() != 0) return true;
  struct stat st;
  bool known = stat(home.c_str(), &st) == 0;
  std::string owner = known ? "owned by uid " + std::to_string(st.st_uid)
                            : "owner unknown";
  if (!options.allowRoot || !known) {
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
               "HOME=%s (%s) as that user\n",
               options.dryRun ? "would change" : "changing", home.c_str(),
               owner.c_str());
  return st.st_uid == 0 || becomeOwner(home, st);
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

// The Claude Code version the entries are written for, with a note on
// standard error naming what it leaves out; nullopt after saying why when
// the version runs no hooks we can write.
std::optional<vesk::AgentVersion> claudeVersion(const Options& options) {
  std::string source, why;
  std::optional<vesk::AgentVersion> version;
  if (!options.claudeVersion.empty()) {
    version = vesk::AgentVersion::parse(options.claudeVersion);
    source = "--claude-version";
  } else {
    version = vesk::askClaudeVersion(&why);
    source = "claude --version";
  }
  if (version && *version < vesk::kOldestClaudeCode) {
    std::fprintf(stderr,
                 "vesk-agent-hooks: Claude Code: version %s (%s) is older "
                 "than %s, the first whose hooks take a timeout; update "
                 "Claude Code. Nothing was changed.\n",
                 version->text().c_str(), source.c_str(),
                 vesk::kOldestClaudeCode.text().c_str());
    return std::nullopt;
  }
  vesk::AgentVersion used = version.value_or(vesk::kAssumedClaudeCode);
  std::string left;
  for (const vesk::HookRow& row : vesk::hookTable(vesk::Agent::kClaudeCode)) {
    if (used < row.since) {
      left += std::string(left.empty() ? "" : ", ") + std::string(row.event) +
              " (" + row.since.text() + ")";
    }
  }
  if (left.empty()) return used;
  if (version) {
    std::fprintf(stderr,
                 "vesk-agent-hooks: Claude Code: version %s (%s) does not "
                 "know %s; those events are left out\n",
                 version->text().c_str(), source.c_str(), left.c_str());
  } else {
    std::fprintf(stderr,
                 "vesk-agent-hooks: Claude Code: version unknown (%s); "
                 "writing only the events every version since %s knows, "
                 "leaving out %s. Pass --claude-version VERSION to have "
                 "the events your version knows written.\n",
                 why.c_str(), used.text().c_str(), left.c_str());
  }
  return used;
}

// One settings file's change: the file as read and its new text.
struct Plan {
  vesk::Agent agent = vesk::Agent::kClaudeCode;
  std::string name;  // the agent's name, for messages
  vesk::SettingsFile file;
  bool changed = false;
  std::string text;  // the new file, when changed
  vesk::StagedFile staged;
};

// Reads, edits and checks the settings of one agent. Returns nullopt after
// printing why when the file cannot be changed.
std::optional<Plan> planChange(const Options& options, vesk::Agent agent,
                               const std::filesystem::path& path,
                               const std::vector<vesk::HookRow>& rows,
                               const std::string& bridge) {
  Plan plan;
  plan.agent = agent;
  plan.name = vesk::agentName(agent);
  std::string error;
  auto file = vesk::readSettingsFile(path, &error);
  if (!file) {
    const char* how =
        agent == vesk::Agent::kCursor &&
                error.find("a comment") != std::string::npos
            ? "Cursor's documentation describes hooks.json as plain JSON, "
              "without comments; this file cannot be edited as such. "
            : "";
    std::fprintf(stderr,
                 "vesk-agent-hooks: %s: %s\n%sNothing was changed. Fix the "
                 "file (or move it away) and run the command again, or add "
                 "the entries of `vesk-agent-hooks print --agent %s` by "
                 "hand.\n",
                 plan.name.c_str(), error.c_str(), how,
                 std::string(vesk::agentOption(agent)).c_str());
    return std::nullopt;
  }
  plan.file = std::move(*file);
  if (!options.dryRun) vesk::removeLeftovers(plan.file.path);
  auto text = vesk::editHooks(
      plan.file.text, plan.file.layout ? &*plan.file.layout : nullptr, agent,
      rows, options.command == "install" ? bridge : std::string(), &error);
  if (!text) {
    std::fprintf(stderr,
                 "vesk-agent-hooks: %s: %s: %s\nNothing was changed. Fix "
                 "the file and run the command again.\n",
                 plan.name.c_str(), plan.file.path.c_str(), error.c_str());
    return std::nullopt;
  }
  plan.changed = *text != plan.file.text;
  if (!plan.changed) return plan;
  if (!vesk::checkReplaceable(plan.file, &error)) {
    std::fprintf(stderr,
                 "vesk-agent-hooks: %s: %s\nNothing was changed. Make it "
                 "writable (or move it away) and run the command again.\n",
                 plan.name.c_str(), error.c_str());
    return std::nullopt;
  }
  plan.text = std::move(*text);
  return plan;
}

// Plans every agent's change before anything is written. With --agent all,
// an agent whose folder is missing is skipped (and stays missing). Sets
// `*noAgent` when every agent was skipped.
std::optional<std::vector<Plan>> planChanges(
    const Options& options, const std::filesystem::path& home,
    const std::vector<vesk::HookRow>& claudeRows, const std::string& bridge,
    bool* noAgent) {
  std::vector<Plan> plans;
  std::vector<vesk::Agent> agents = agentsFor(options);
  for (vesk::Agent agent : agents) {
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
    std::vector<vesk::HookRow> rows =
        agent == vesk::Agent::kClaudeCode
            ? claudeRows
            : vesk::hookRows(agent, vesk::AgentVersion());
    auto plan = planChange(options, agent, path, rows, bridge);
    if (!plan) return std::nullopt;
    plans.push_back(std::move(*plan));
  }
  *noAgent = plans.empty() && !agents.empty();
  return plans;
}

const char* doneText(const Options& options) {
  return options.command == "install" ? "up to date"
                                      : "free of VeskAgentBridge hooks";
}

// Shows what the command would change: per file a unified diff of the file
// as it is against what would be written, for patch(1).
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
        vesk::unifiedDiff(plan.file.text, plan.text).c_str());
  }
  std::printf("Dry run: nothing was changed.\n");
}

void discardAll(std::vector<Plan>& plans) {
  for (Plan& plan : plans) vesk::discardStaged(plan.staged);
}

// Writes every new version and backup beside its file; when one fails,
// takes back what was written so that no file changes.
bool stageAll(std::vector<Plan>& plans) {
  for (Plan& plan : plans) {
    if (!plan.changed) continue;
    std::string error;
    auto staged = vesk::stageSettingsFile(plan.file, plan.text, &error);
    if (!staged) {
      discardAll(plans);
      std::fprintf(stderr,
                   "vesk-agent-hooks: %s: %s\nNothing was changed: every "
                   "settings file and backup is as it was.\n",
                   plan.name.c_str(), error.c_str());
      return false;
    }
    plan.staged = std::move(*staged);
  }
  return true;
}

// Whether every file still holds what was read; prints which did not.
bool allUnchanged(const std::vector<Plan>& plans) {
  for (const Plan& plan : plans) {
    std::string error;
    if (plan.changed && !vesk::unchangedSince(plan.file, &error)) {
      std::fprintf(stderr, "vesk-agent-hooks: %s: %s\n", plan.name.c_str(),
                   error.c_str());
      return false;
    }
  }
  return true;
}

// Renames every staged file into place, then trims its backups.
bool commitAll(const Options& options, std::vector<Plan>& plans) {
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
    std::filesystem::path backup;
    if (plan.staged.backup) {
      backup = *plan.staged.backup;
      backupNote = " (backup: " + backup.string() + ")";
    }
    std::printf("%s: %s %s%s\n", plan.name.c_str(),
                options.command == "install" ? "hooks installed in"
                                             : "hooks removed from",
                path, backupNote.c_str());
    // The change is made; an old backup left behind is only clutter.
    if (!vesk::pruneBackups(plan.file, kBackupsKept, backup, &error)) {
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
    if (plan.agent != vesk::Agent::kClaudeCode || !plan.file.layout) continue;
    const vesk::JsonNode* off = plan.file.layout->member("disableAllHooks");
    if (off != nullptr &&
        vesk::nodeValue(plan.file.text, *off) == boost::json::value(true)) {
      std::printf(
          "%s: note: %s sets \"disableAllHooks\": true, so Claude "
          "Code runs none of them\n",
          plan.name.c_str(), plan.file.path.c_str());
    }
  }
}

// Reads, edits, stages and renames; redone from the start when a file
// changes under it.
int change(const Options& options, const std::filesystem::path& home,
           const std::vector<vesk::HookRow>& claudeRows,
           const std::string& bridge) {
  for (int attempt = 0; attempt < kEditAttempts; ++attempt) {
    bool noAgent = false;
    auto plans = planChanges(options, home, claudeRows, bridge, &noAgent);
    if (!plans) return kExitFailure;
    if (noAgent) {
      std::fprintf(stderr,
                   "vesk-agent-hooks: no agent found: neither %s nor %s "
                   "exists, so nothing was done. Use --agent to %s anyway.\n",
                   settingsPath(home, vesk::Agent::kClaudeCode)
                       .parent_path().c_str(),
                   settingsPath(home, vesk::Agent::kCursor)
                       .parent_path().c_str(),
                   options.command.c_str());
      return kExitNoAgent;
    }
    if (options.dryRun) {
      printDryRun(options, *plans);
      return 0;
    }
    if (!stageAll(*plans)) return kExitFailure;
    if (!allUnchanged(*plans)) {
      discardAll(*plans);
      continue;
    }
    if (!commitAll(options, *plans)) return kExitFailure;
    if (options.command == "install") noteDisabledHooks(*plans);
    return 0;
  }
  std::fprintf(stderr,
               "vesk-agent-hooks: the settings kept changing while they were "
               "edited. Nothing was changed; run the command again once the "
               "agent is done saving.\n");
  return kExitFailure;
}

int run(const Options& options) {
  // The settings files and their backups are written whole or not at all:
  // a file-size limit must fail a write, not kill the program mid-way.
  signal(SIGXFSZ, SIG_IGN);
  // Found before giving up root: a process that changed its user may no
  // longer read its own /proc entry.
  std::string bridge = options.bridge;
  if (options.command != "uninstall" && bridge.empty()) {
    auto found = defaultBridge();
    if (!found) return kExitFailure;
    bridge = *found;
  }
  std::optional<std::filesystem::path> home;
  if (options.command != "print") {
    home = homeDirectory();
    if (!home || !checkRoot(options, *home)) return kExitFailure;
  }
  if (options.command != "uninstall" && !checkBridge(bridge)) {
    return kExitFailure;
  }
  std::vector<vesk::HookRow> claudeRows;
  // Claude Code's version matters only where its entries are written.
  std::error_code ec;
  bool claudeWanted =
      options.command != "uninstall" &&
      (options.agent == "claude-code" ||
       (options.agent == "all" &&
        std::filesystem::is_directory(
            settingsPath(*home, vesk::Agent::kClaudeCode).parent_path(), ec)));
  if (claudeWanted) {
    auto version = claudeVersion(options);
    if (!version) return kExitFailure;
    claudeRows = vesk::hookRows(vesk::Agent::kClaudeCode, *version);
  }
  if (options.command == "print") {
    auto agent = *vesk::agentFromOption(options.agent);
    std::vector<vesk::HookRow> rows =
        agent == vesk::Agent::kClaudeCode
            ? claudeRows
            : vesk::hookRows(agent, vesk::AgentVersion());
    std::fputs(vesk::hookTemplate(agent, rows, bridge).c_str(), stdout);
    return 0;
  }
  return change(options, *home, claudeRows, bridge);
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
