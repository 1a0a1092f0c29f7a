// vesk-agent-hooks: wires VeskAgentBridge into the coding agents' user
// settings (~/.claude/settings.json for Claude Code, ~/.cursor/hooks.json for
// Cursor), or takes it out again.
//
//   vesk-agent-hooks install   [--agent claude-code|cursor|all] [--bridge PATH]
//                              [--allow-root]
//   vesk-agent-hooks uninstall [--agent claude-code|cursor|all] [--allow-root]
//   vesk-agent-hooks print      --agent claude-code|cursor [--bridge PATH]
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
// the second time.
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

#include "hook_config.h"
#include "hook_table.h"
#include "json_format.h"
#include "settings_file.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: vesk-agent-hooks install   [--agent claude-code|cursor|all] "
    "[--bridge PATH]\n"
    "                                  [--allow-root]\n"
    "       vesk-agent-hooks uninstall [--agent claude-code|cursor|all] "
    "[--allow-root]\n"
    "       vesk-agent-hooks print      --agent claude-code|cursor "
    "[--bridge PATH]\n"
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
    "           agents read the settings of the user they run as)\n";

struct Options {
  std::string command;
  std::string agent = "all";
  std::string bridge;
  bool allow_root = false;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  Options options;
  options.command = argv[1];
  if (options.command == "-h" || options.command == "--help") {
    return options;
  }
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    std::string* target = nullptr;
    if (arg == "--allow-root") {
      options.allow_root = true;
      continue;
    }
    if (arg == "--agent") {
      target = &options.agent;
    } else if (arg == "--bridge") {
      target = &options.bridge;
    } else {
      return std::nullopt;
    }
    if (i + 1 >= argc) return std::nullopt;
    *target = argv[++i];
  }
  return options;
}

// HOME, when it names an existing folder by an absolute path. There is no
// fallback: without HOME the agents would not find their settings either,
// and a guess (the password database's entry for root under sudo, say)
// would change someone else's.
std::optional<std::filesystem::path> HomeDirectory() {
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
bool CheckRoot(const Options& options, const std::filesystem::path& home) {
  if (geteuid() != 0) return true;
  struct stat st;
  std::string owner = stat(home.c_str(), &st) == 0
                          ? "owned by uid " + std::to_string(st.st_uid)
                          : "owner unknown";
  if (!options.allow_root) {
    std::fprintf(stderr,
                 "vesk-agent-hooks: refusing to run as root: the agents read "
                 "the settings of the user they run as. Run it as that user "
                 "(not with sudo), or pass --allow-root to change the "
                 "settings in HOME=%s (%s). Nothing was changed.\n",
                 home.c_str(), owner.c_str());
    return false;
  }
  std::fprintf(stderr,
               "vesk-agent-hooks: running as root: changing the settings in "
               "HOME=%s (%s)\n",
               home.c_str(), owner.c_str());
  return true;
}

std::optional<std::filesystem::path> OwnExecutable() {
#if defined(__APPLE__)
  char buffer[4096];
  uint32_t size = sizeof buffer;
  if (_NSGetExecutablePath(buffer, &size) != 0) return std::nullopt;
  std::error_code ec;
  auto path = std::filesystem::canonical(buffer, ec);
#else
  std::error_code ec;
  auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
#endif
  if (ec) return std::nullopt;
  return path;
}

std::filesystem::path SettingsPath(const std::filesystem::path& home,
                                   vesk::Agent agent) {
  if (agent == vesk::Agent::kClaudeCode) {
    return home / ".claude" / "settings.json";
  }
  return home / ".cursor" / "hooks.json";
}

// Checks that `path` can serve as the hook command: absolute, named
// VeskAgentBridge (the installer finds its entries by that name), and an
// executable file.
bool CheckBridge(const std::string& path) {
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

struct Plan {
  vesk::Agent agent = vesk::Agent::kClaudeCode;
  vesk::SettingsFile file;
  bool changed = false;
  std::string text;
};

int Run(const Options& options) {
  const bool install = options.command == "install";

  std::vector<vesk::Agent> agents;
  if (options.agent == "all") {
    agents = {vesk::Agent::kClaudeCode, vesk::Agent::kCursor};
  } else if (auto agent = vesk::AgentFromOption(options.agent)) {
    agents = {*agent};
  } else {
    std::fprintf(stderr, "vesk-agent-hooks: unknown agent \"%s\"\n%s",
                 options.agent.c_str(), kUsage);
    return kExitUsage;
  }

  std::string bridge = options.bridge;
  if (options.command == "print") {
    if (agents.size() != 1) {
      std::fprintf(stderr, "vesk-agent-hooks: print needs --agent\n%s", kUsage);
      return kExitUsage;
    }
  }
  if (options.command != "uninstall" && bridge.empty()) {
    auto self = OwnExecutable();
    if (!self) {
      std::fprintf(stderr,
                   "vesk-agent-hooks: cannot find this program's folder; "
                   "pass --bridge\n");
      return kExitFailure;
    }
    bridge = (self->parent_path() / vesk::kBridgeProgramName).string();
  }
  if (options.command == "print") {
    std::fputs(vesk::FormatJson(vesk::HookTemplate(agents[0], bridge)).c_str(),
               stdout);
    return 0;
  }
  if (install && !CheckBridge(bridge)) return kExitFailure;

  auto home = HomeDirectory();
  if (!home || !CheckRoot(options, *home)) return kExitFailure;

  // Read, merge and check everything first; write only when all of it worked.
  std::vector<Plan> plans;
  for (vesk::Agent agent : agents) {
    std::filesystem::path path = SettingsPath(*home, agent);
    std::string name(vesk::AgentName(agent));
    std::error_code ec;
    if (options.agent == "all" &&
        !std::filesystem::is_directory(path.parent_path(), ec)) {
      std::printf("%s: %s not found, skipped (use --agent %s to %s anyway)\n",
                  name.c_str(), path.parent_path().c_str(),
                  std::string(vesk::AgentOption(agent)).c_str(),
                  options.command.c_str());
      continue;
    }
    std::string error;
    auto file = vesk::ReadSettingsFile(path, &error);
    if (!file) {
      std::fprintf(stderr,
                   "vesk-agent-hooks: %s: %s\nNothing was changed. Fix the "
                   "file (or move it away) and run the command again.\n",
                   name.c_str(), error.c_str());
      return kExitFailure;
    }
    Plan plan;
    plan.agent = agent;
    plan.file = std::move(*file);
    auto changed = vesk::ApplyHooks(plan.file.settings, agent,
                                    install ? bridge : std::string(), &error);
    if (!changed) {
      std::fprintf(stderr,
                   "vesk-agent-hooks: %s: %s: %s\nNothing was changed. Fix "
                   "the file and run the command again.\n",
                   name.c_str(), plan.file.path.c_str(), error.c_str());
      return kExitFailure;
    }
    plan.changed = *changed;
    if (plan.changed) {
      if (!vesk::CheckReplaceable(plan.file, &error)) {
        std::fprintf(stderr,
                     "vesk-agent-hooks: %s: %s\nNothing was changed. Make it "
                     "writable (or move it away) and run the command "
                     "again.\n",
                     name.c_str(), error.c_str());
        return kExitFailure;
      }
      plan.text = vesk::FormatJson(plan.file.settings);
    }
    plans.push_back(std::move(plan));
  }

  // Write every new version and backup beside its file; when one fails,
  // take back what was written so that no file changes.
  std::vector<vesk::StagedFile> staged(plans.size());
  for (size_t i = 0; i < plans.size(); ++i) {
    if (!plans[i].changed) continue;
    std::string error;
    auto done = vesk::StageSettingsFile(plans[i].file, plans[i].text, &error);
    if (!done) {
      for (const vesk::StagedFile& s : staged) vesk::DiscardStaged(s);
      std::fprintf(stderr, "vesk-agent-hooks: %s: %s\nNothing was changed.\n",
                   std::string(vesk::AgentName(plans[i].agent)).c_str(),
                   error.c_str());
      return kExitFailure;
    }
    staged[i] = std::move(*done);
  }

  // Claude Code skips every hook while this is set; say so rather than
  // leave the user wondering.
  auto hooks_disabled = [](const Plan& plan) {
    const boost::json::value* off =
        plan.file.settings.if_contains("disableAllHooks");
    return plan.agent == vesk::Agent::kClaudeCode && off != nullptr &&
           off->is_bool() && off->get_bool();
  };

  for (size_t i = 0; i < plans.size(); ++i) {
    const Plan& plan = plans[i];
    std::string name(vesk::AgentName(plan.agent));
    const char* path = plan.file.path.c_str();
    if (!plan.changed) {
      std::printf("%s: %s already %s\n", name.c_str(), path,
                  install ? "up to date" : "free of VeskAgentBridge hooks");
      continue;
    }
    std::string error;
    if (!vesk::CommitSettingsFile(plan.file, staged[i], &error)) {
      // A rename in a folder just written to: failing here is rare. The
      // files not yet renamed keep their old content.
      for (size_t j = i + 1; j < plans.size(); ++j) {
        vesk::DiscardStaged(staged[j]);
      }
      std::fprintf(stderr, "vesk-agent-hooks: %s: %s\n", name.c_str(),
                   error.c_str());
      return kExitFailure;
    }
    std::string backup_note;
    if (staged[i].backup) {
      backup_note = " (backup: " + staged[i].backup->string() + ")";
    }
    std::printf("%s: %s %s%s\n", name.c_str(),
                install ? "hooks installed in" : "hooks removed from", path,
                backup_note.c_str());
  }
  for (const Plan& plan : plans) {
    if (install && hooks_disabled(plan)) {
      std::printf(
          "%s: note: %s sets \"disableAllHooks\": true, so Claude "
          "Code runs none of them\n",
          std::string(vesk::AgentName(plan.agent)).c_str(),
          plan.file.path.c_str());
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  auto options = ParseOptions(argc, argv);
  if (!options) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  if (options->command == "-h" || options->command == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options->command != "install" && options->command != "uninstall" &&
      options->command != "print") {
    std::fprintf(stderr, "vesk-agent-hooks: unknown command \"%s\"\n%s",
                 options->command.c_str(), kUsage);
    return kExitUsage;
  }
  return Run(*options);
}
