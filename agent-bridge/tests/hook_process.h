// Runs the built VeskAgentBridge as the agents do, for end-to-end tests.
//
// Contract: runHook() starts the binary with the given arguments, HOME and
// standard input (a regular file holding `input`), waits for it and reports
// how it ended, everything it printed and how much of its input it
// consumed. Blocks the calling thread; safe to call from several threads.

#ifndef VESK_AGENT_BRIDGE_TESTS_HOOK_PROCESS_H_
#define VESK_AGENT_BRIDGE_TESTS_HOOK_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace vesk::test {

struct HookRun {
  int status = -1;             // raw wait status
  std::string output;          // standard output and standard error together
  off_t consumed = 0;          // bytes of standard input read
  bool exitedCleanly() const;  // exit status 0, no signal, no output
};

struct HookOptions {
  std::string home;
  std::vector<std::string> arguments;
  std::string input;
  long fileSizeLimit = -1;  // RLIMIT_FSIZE for the child, when >= 0
};

HookRun runHook(const HookOptions& options);

// Starts the hook without waiting; returns its process id. Its standard
// input is the open descriptor `inputFd`; its output is discarded.
pid_t startHook(const HookOptions& options, int inputFd);

}  // namespace vesk::test

#endif  // VESK_AGENT_BRIDGE_TESTS_HOOK_PROCESS_H_
