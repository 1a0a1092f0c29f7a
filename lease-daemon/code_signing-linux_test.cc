// The check of a connecting process against a process handle that no
// longer vouches for its id. Marked and unmarked clients otherwise are
// covered end to end by root_test.py.

#include "code_signing-linux.h"

#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "pidfd-linux.h"
#include "temp_dir.h"

namespace vesk {
namespace {

// A handle on a process that has ended is paired with the id of a live
// process that meets the requirement, as after the id was reused.
TEST(CodeIdentityTest, AHandleOnAnEndedProcessVouchesForNoProcessId) {
  if (geteuid() != 0) GTEST_SKIP() << "marking an executable needs root";
  testing::TempDir dir;
  std::string client = dir.file("client");
  std::filesystem::copy_file("/bin/sleep", client);
  if (setxattr(client.c_str(), "trusted.codesign.identifier", "com.vesk.Vesk",
               13, 0) != 0 ||
      setxattr(client.c_str(), "trusted.codesign.team", "ABCDE12345", 10,
               0) != 0) {
    GTEST_SKIP() << "no trusted attributes here";
  }
  // posix_spawn() returns once the child runs the new program.
  pid_t live = 0;
  char* argv[] = {client.data(), const_cast<char*>("60"), nullptr};
  ASSERT_EQ(posix_spawn(&live, client.c_str(), nullptr, nullptr, argv,
                        nullptr),
            0);
  pid_t ended = fork();
  if (ended == 0) _exit(0);
  Descriptor liveHandle(static_cast<int>(syscall(SYS_pidfd_open, live, 0)));
  Descriptor endedHandle(static_cast<int>(syscall(SYS_pidfd_open, ended, 0)));
  siginfo_t info;
  ASSERT_EQ(waitid(P_PID, ended, &info, WEXITED | WNOWAIT), 0);  // a zombie

  struct Case {
    const char* name;
    int handle;
    pid_t pid;
    bool valid;
  };
  const Case cases[] = {
      {"live", liveHandle.get(), live, true},
      {"zombie", endedHandle.get(), ended, false},
      {"ended handle, live id", endedHandle.get(), live, false},
  };
  const CodeRequirement requirement{"com.vesk.Vesk", "ABCDE12345"};
  for (bool reaped : {false, true}) {
    if (reaped) waitpid(ended, nullptr, 0);
    for (const Case& c : cases) {
      EXPECT_EQ(validateProcess(c.handle, c.pid, requirement), c.valid)
          << c.name << (reaped ? ", reaped" : "");
    }
  }
  kill(live, SIGKILL);
  waitpid(live, nullptr, 0);
}

}  // namespace
}  // namespace vesk
