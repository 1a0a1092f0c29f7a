#include "claude_version.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace vesk {
namespace {

constexpr size_t kMaxOutput = 4096;

// Reads the child's output until it closes the pipe, the output is long
// enough, or the deadline passes.
std::string readUntil(int fd, std::chrono::steady_clock::time_point deadline) {
  std::string out;
  char buffer[512];
  while (out.size() < kMaxOutput) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

}  // namespace

std::optional<AgentVersion> askClaudeVersion(std::string* why) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    *why = std::string("cannot run claude: ") + std::strerror(errno);
    return std::nullopt;
  }
  fcntl(pipeFds[0], F_SETFD, FD_CLOEXEC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
  char name[] = "claude";
  char flag[] = "--version";
  char* argv[] = {name, flag, nullptr};
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, name, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (spawned != 0) {
    close(pipeFds[0]);
    *why = spawned == ENOENT ? "claude is not on PATH"
                             : std::string("cannot run claude: ") +
                                   std::strerror(spawned);
    return std::nullopt;
  }
  std::string out = readUntil(
      pipeFds[0], std::chrono::steady_clock::now() + kClaudeVersionTimeout);
  close(pipeFds[0]);
  int status = 0;
  if (waitpid(pid, &status, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  std::optional<AgentVersion> version = AgentVersion::parse(out);
  if (!version) *why = "claude --version printed no version";
  return version;
}

}  // namespace vesk
