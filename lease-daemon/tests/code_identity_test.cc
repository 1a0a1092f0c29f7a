// Code identity on Linux: validateProcess() against live, marked processes
// (root only: "trusted." attributes), and processes that are gone.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "code_signing.h"
#include "pidfd-linux.h"
#include "test_client.h"

namespace vesk {
namespace {

namespace fs = std::filesystem;

int pidfd_open(pid_t pid, unsigned flags) {
  return static_cast<int>(syscall(SYS_pidfd_open, pid, flags));
}

const CodeRequirement kRequirement{"com.vesk.Vesk", "ABCDE12345"};

class MarkedProcess {
 public:
  // Runs a copy of /bin/sleep placed in a fresh directory.
  MarkedProcess() {
    char pattern[] = "/tmp/vesk-identity-XXXXXX";
    dir_ = mkdtemp(pattern);
    exe_ = dir_ / "client";
    fs::copy_file("/bin/sleep", exe_);
    chmod(exe_.c_str(), 0755);
    pid_ = fork();
    if (pid_ == 0) {
      execl(exe_.c_str(), "client", "60", nullptr);
      _exit(127);
    }
    pidfd_ = pidfd_open(pid_, 0);
    started_ = testing::waitUntil([&] {
      std::error_code error;
      return fs::read_symlink("/proc/" + std::to_string(pid_) + "/exe",
                              error) == exe_;
    });
  }
  ~MarkedProcess() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    close(pidfd_);
    fs::remove_all(dir_);
  }

  bool started() const { return started_; }
  const fs::path& exe() const { return exe_; }
  bool validate() { return validateProcess(pidfd_, pid_, kRequirement); }

 private:
  fs::path dir_;
  fs::path exe_;
  pid_t pid_ = -1;
  int pidfd_ = -1;
  bool started_ = false;
};

void setAttribute(const fs::path& file, const char* name,
                  const std::optional<std::string>& value) {
  if (value) {
    setxattr(file.c_str(), name, value->data(), value->size(), 0);
  } else {
    removexattr(file.c_str(), name);
  }
}

TEST(CodeIdentityTest, ExecutableRules) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for trusted. attributes";
  MarkedProcess process;
  ASSERT_TRUE(process.started());

  struct Case {
    const char* name;
    std::optional<std::string> identifier;
    std::optional<std::string> team;
    mode_t mode;
    uid_t owner;
    bool accepted;
  };
  const std::optional<std::string> kId = "com.vesk.Vesk";
  const std::optional<std::string> kTeam = "ABCDE12345";
  const Case cases[] = {
      {"marked", kId, kTeam, 0755, 0, true},
      {"read-only", kId, kTeam, 0555, 0, true},
      {"wrong identifier", "com.vesk.Other", kTeam, 0755, 0, false},
      {"identifier with terminator", std::string("com.vesk.Vesk\0", 14), kTeam,
       0755, 0, false},
      {"wrong team", kId, "ABCDE12346", 0755, 0, false},
      {"no team", kId, std::nullopt, 0755, 0, false},
      {"no identifier", std::nullopt, kTeam, 0755, 0, false},
      {"no attributes", std::nullopt, std::nullopt, 0755, 0, false},
      {"group-writable", kId, kTeam, 0775, 0, false},
      {"others-writable", kId, kTeam, 0757, 0, false},
      {"not owned by root", kId, kTeam, 0755, 65534, false},
  };
  for (const Case& c : cases) {
    setAttribute(process.exe(), "trusted.codesign.identifier", c.identifier);
    setAttribute(process.exe(), "trusted.codesign.team", c.team);
    ASSERT_EQ(chown(process.exe().c_str(), c.owner, 0), 0);
    ASSERT_EQ(chmod(process.exe().c_str(), c.mode), 0);
    EXPECT_EQ(process.validate(), c.accepted) << c.name;
  }
}

TEST(CodeIdentityTest, ProcessThatIsGoneIsRefused) {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  int pidfd = pidfd_open(pid, 0);
  ASSERT_GE(pidfd, 0);
  // A zombie still has its id and its /proc directory, but counts as gone.
  ASSERT_TRUE(testing::waitUntil([&] { return !processIsAlive(pidfd); }));
  EXPECT_FALSE(validateProcess(pidfd, pid, kRequirement));
  waitpid(pid, nullptr, 0);
  EXPECT_FALSE(processIsAlive(pidfd));
  EXPECT_FALSE(validateProcess(pidfd, pid, kRequirement));
  close(pidfd);
}

TEST(CodeIdentityTest, BadArgumentsAreRefused) {
  int pidfd = pidfd_open(getpid(), 0);
  EXPECT_TRUE(processIsAlive(pidfd));
  EXPECT_FALSE(validateProcess(-1, getpid(), kRequirement));
  EXPECT_FALSE(validateProcess(pidfd, 0, kRequirement));
  EXPECT_FALSE(validateProcess(pidfd, -1, kRequirement));
  // This test binary carries no attributes.
  EXPECT_FALSE(validateProcess(pidfd, getpid(), kRequirement));
  EXPECT_EQ(ownSigningTeam(), std::nullopt);
  close(pidfd);
}

}  // namespace
}  // namespace vesk
