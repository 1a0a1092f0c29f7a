// vesk-agent-hooks: wires VeskAgentBridge into the coding agents' user
// settings (~/.claude/settings.json for Claude Code, ~/.cursor/hooks.json for
// Cursor), or takes it out again.
//
//   vesk-agent-hooks install   [--agent claude-code|cursor|all] [--bridge PATH]
//   vesk-agent-hooks uninstall [--agent claude-code|cursor|all]
//   vesk-agent-hooks print      --agent claude-code|cursor [--bridge PATH]
//
// Every file is read and checked before any is written: when one cannot be
// parsed, nothing changes anywhere and the exit status is 1. A file that
// changes is backed up first; a file already in the wanted state is left
// alone, so running the command twice changes nothing the second time.
#include <pwd.h>
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
    "       vesk-agent-hooks uninstall [--agent claude-code|cursor|all]\n"
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
    "           this program\n";

struct Options {
  std::string command;
  std::string agent = "all";
  std::string bridge;
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

// HOME when it is set and absolute, otherwise the password database's entry
// for the real user: the same rule VeskAgentBridge follows.
std::optional<std::filesystem::path> HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::filesystem::path(home);
  struct passwd* entry = getpwuid(getuid());
  if (entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/') {
    return std::filesystem::path(entry->pw_dir);
  }
  return std::nullopt;
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
  if (!home) {
    std::fprintf(stderr, "vesk-agent-hooks: cannot find the home folder\n");
    return kExitFailure;
  }

  // Read and merge everything first; write only when all of it worked.
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
    if (plan.changed) plan.text = vesk::FormatJson(plan.file.settings);
    plans.push_back(std::move(plan));
  }

  // Claude Code skips every hook while this is set; say so rather than
  // leave the user wondering.
  auto hooks_disabled = [](const Plan& plan) {
    const boost::json::value* off =
        plan.file.settings.if_contains("disableAllHooks");
    return plan.agent == vesk::Agent::kClaudeCode && off != nullptr &&
           off->is_bool() && off->get_bool();
  };

  for (const Plan& plan : plans) {
    std::string name(vesk::AgentName(plan.agent));
    const char* path = plan.file.path.c_str();
    if (!plan.changed) {
      std::printf("%s: %s already %s\n", name.c_str(), path,
                  install ? "up to date" : "free of VeskAgentBridge hooks");
      continue;
    }
    std::string error;
    std::string backup_note;
    if (plan.file.exists) {
      auto backup = vesk::BackUpSettingsFile(plan.file, &error);
      if (!backup) {
        std::fprintf(stderr, "vesk-agent-hooks: %s: %s\n", name.c_str(),
                     error.c_str());
        return kExitFailure;
      }
      backup_note = " (backup: " + backup->string() + ")";
    }
    if (!vesk::ReplaceSettingsFile(plan.file, plan.text, &error)) {
      std::fprintf(stderr, "vesk-agent-hooks: %s: %s\n", name.c_str(),
                   error.c_str());
      return kExitFailure;
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
