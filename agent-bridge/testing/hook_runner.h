// The built hook (VESK_AGENT_BRIDGE_BINARY), started as a coding agent
// starts it, for whole-process tests. Tests only; the child runs nothing
// but system calls between fork and exec, so any thread may start a run.

#ifndef VESK_AGENT_BRIDGE_TESTING_HOOK_RUNNER_H_
#define VESK_AGENT_BRIDGE_TESTING_HOOK_RUNNER_H_

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sched.h>
#include <sys/mount.h>
#endif

#include <optional>
#include <string>
#include <vector>

namespace vesk::testing {

// Who runs the hook: HOME set to `home` as its whole environment, or an
// empty environment when there is none; the test's own user when `uid` is
// 0, else `uid` with the file `passwd` mounted over the password file (in a
// mount namespace of the child's own; Linux only, see kCanRunAsOtherUsers);
// under the file-creation mask `umask`.
struct HookAccount {
  std::optional<std::string> home;
  uid_t uid = 0;
  std::string passwd;
  mode_t umask = 022;
};

// Whether a run may take on another account: that needs a mount namespace
// for the password file, which only Linux has.
#if defined(__linux__)
inline constexpr bool kCanRunAsOtherUsers = true;
#else
inline constexpr bool kCanRunAsOtherUsers = false;
#endif

// Mounts `passwd` over the password file in a mount namespace of the
// calling process's own; false where that cannot be done.
inline bool usePasswordFile(const std::string& passwd) {
#if defined(__linux__)
  return unshare(CLONE_NEWNS) == 0 &&
         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         mount(passwd.c_str(), "/etc/passwd", nullptr, MS_BIND, nullptr) == 0;
#else
  (void)passwd;
  return false;
#endif
}

// Starts the hook with `args`, standard input `in`, standard output and
// error `out`, at most `fileSizeLimit` bytes per file it writes and,
// outside AddressSanitizer builds, 1 GiB of address space. Returns the
// child's pid (-1 when fork fails); the caller waits for it. A child that
// cannot take on the account exits 126, one that cannot exec exits 127.
inline pid_t startHook(const HookAccount& account,
                       std::vector<std::string> args, int in, int out,
                       rlim_t fileSizeLimit = RLIM_INFINITY) {
  args.insert(args.begin(), VESK_AGENT_BRIDGE_BINARY);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string env = "HOME=" + account.home.value_or("");
  char* envp[] = {account.home ? env.data() : nullptr, nullptr};
  const pid_t pid = fork();
  if (pid != 0) return pid;

  dup2(in, 0);
  dup2(out, 1);
  dup2(out, 2);
#if defined(__linux__)
  // Opened while still the test's user: the build folder may lie where
  // another account cannot reach it (a checkout in a private folder).
  const int exe = open(argv[0], O_RDONLY | O_CLOEXEC);
#endif
  if (account.uid != 0 &&
      (!usePasswordFile(account.passwd) || setgroups(0, nullptr) != 0 ||
       setgid(account.uid) != 0 || setuid(account.uid) != 0))
    _exit(126);
  umask(account.umask);
  const rlimit limit{fileSizeLimit, fileSizeLimit};
  setrlimit(RLIMIT_FSIZE, &limit);
#ifndef __SANITIZE_ADDRESS__  // whose shadow memory needs terabytes
  // Far above what a run needs; a run that tries to load a huge file fails
  // at once instead of filling the machine's memory.
  const rlimit memory{rlim_t{1} << 30, rlim_t{1} << 30};
  setrlimit(RLIMIT_AS, &memory);
#endif
#if defined(__linux__)
  fexecve(exe, argv.data(), envp);
#else
  execve(argv[0], argv.data(), envp);
#endif
  _exit(127);
}

}  // namespace vesk::testing

#endif  // VESK_AGENT_BRIDGE_TESTING_HOOK_RUNNER_H_
