#include "hook_process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace vesk::test {

namespace {

pid_t spawn(const HookOptions& options, int inputFd, int outputFd) {
  std::vector<std::string> argv{VESK_AGENT_BRIDGE_BINARY};
  argv.insert(argv.end(), options.arguments.begin(), options.arguments.end());
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  std::string home = "HOME=" + options.home;
  char* env[] = {home.data(), nullptr};

  pid_t pid = fork();
  if (pid == 0) {
    dup2(inputFd, 0);
    dup2(outputFd, 1);
    dup2(outputFd, 2);
    if (options.fileSizeLimit >= 0) {
      rlimit limit{rlim_t(options.fileSizeLimit),
                   rlim_t(options.fileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
      signal(SIGXFSZ, SIG_DFL);
    }
    execve(args[0], args.data(), env);
    _exit(127);
  }
  return pid;
}

std::string readAll(FILE* file) {
  rewind(file);
  std::string text;
  char piece[4096];
  for (std::size_t got; (got = fread(piece, 1, sizeof piece, file)) > 0;) {
    text.append(piece, got);
  }
  return text;
}

}  // namespace

bool HookRun::exitedCleanly() const {
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 && output.empty();
}

pid_t startHook(const HookOptions& options, int inputFd) {
  int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  pid_t pid = spawn(options, inputFd, null);
  close(null);
  return pid;
}

HookRun runHook(const HookOptions& options) {
  FILE* input = tmpfile();
  FILE* output = tmpfile();
  fwrite(options.input.data(), 1, options.input.size(), input);
  fflush(input);
  rewind(input);

  HookRun run;
  pid_t pid = spawn(options, fileno(input), fileno(output));
  while (waitpid(pid, &run.status, 0) < 0 && errno == EINTR) {
  }
  run.output = readAll(output);
  run.consumed = lseek(fileno(input), 0, SEEK_CUR);
  fclose(input);
  fclose(output);
  return run;
}

}  // namespace vesk::test
