// Code identity on Linux: "trusted.codesign.*" extended attributes on a
// root-owned executable that neither its group nor others may write. Only
// root can set "trusted." attributes, so they stand in for a signature made
// at install time.

#include "code_signing-linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <string>

#include "client_requirement.h"
#include "descriptor.h"
#include "pidfd-linux.h"

namespace vesk {

namespace {

constexpr char kIdentifierAttribute[] = "trusted.codesign.identifier";
constexpr char kTeamAttribute[] = "trusted.codesign.team";

// Longer values than this are not identifiers; refusing them keeps the read
// bounded whatever an attribute holds.
constexpr size_t kMaxAttributeSize = 256;

// The ownership and mode rule: a regular file owned by root that neither
// its group nor others may write.
bool isSealedExecutable(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  return S_ISREG(st.st_mode) && st.st_uid == 0 &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::optional<std::string> readAttribute(int fd, const char* name) {
  char buffer[kMaxAttributeSize];
  ssize_t n = fgetxattr(fd, name, buffer, sizeof buffer);
  if (n < 0) return std::nullopt;
  return std::string(buffer, static_cast<size_t>(n));
}

// True when the namespace `name` ("user", "pid") of the process whose /proc
// directory is `procDir` is the daemon's own. Inside a user namespace of
// its own a process may repoint its /proc/PID/exe at any file it can open
// (PR_SET_MM) while running other code, and in a pid namespace whose owner
// it is, it may put any process id of that namespace on the messages it
// sends; neither is ever how the desktop application runs.
bool sharesNamespace(int procDir, const char* name) {
  std::string own = std::string("/proc/self/ns/") + name;
  std::string theirs = std::string("ns/") + name;
  struct stat mine;
  struct stat peer;
  return stat(own.c_str(), &mine) == 0 &&
         fstatat(procDir, theirs.c_str(), &peer, 0) == 0 &&
         mine.st_dev == peer.st_dev && mine.st_ino == peer.st_ino;
}

bool sharesNamespaces(int procDir) {
  return sharesNamespace(procDir, "user") && sharesNamespace(procDir, "pid");
}

}  // namespace

std::optional<std::string> ownSigningTeam() {
  Descriptor exe(open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
  if (!exe.valid() || !isSealedExecutable(exe.get())) return std::nullopt;
  return readAttribute(exe.get(), kTeamAttribute);
}

std::optional<CodeRequirement> compileRequirement(const std::string& text) {
  static constexpr std::string_view kHead =
      "anchor apple generic and identifier \"";
  static constexpr std::string_view kMiddle =
      "\" and certificate leaf[subject.OU] = \"";
  std::string_view rest(text);
  if (!rest.starts_with(kHead) || !rest.ends_with('"')) return std::nullopt;
  rest.remove_prefix(kHead.size());
  rest.remove_suffix(1);
  size_t middle = rest.find(kMiddle);
  if (middle == std::string_view::npos) return std::nullopt;
  CodeRequirement requirement{
      std::string(rest.substr(0, middle)),
      std::string(rest.substr(middle + kMiddle.size()))};
  // Only the exact text that the daemon itself forms is a requirement.
  if (requirement.identifier != kAppIdentifier ||
      clientRequirementText(requirement.team) != text) {
    return std::nullopt;
  }
  return requirement;
}

bool validateProcess(int pidfd, pid_t pid, const CodeRequirement& requirement) {
  if (pidfd < 0 || pid <= 0) return false;
  std::string path = "/proc/" + std::to_string(pid);
  Descriptor dir(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) return false;
  // Checked after the directory is open: a live process still owns its id,
  // so the directory belongs to the verified process and not to a later one
  // that reused the id.
  if (!processIsAlive(pidfd)) return false;
  // Before the executable is opened: in a user namespace of its own a
  // process can mount file systems of its own (FUSE), where an open of its
  // executable could stall.
  if (!sharesNamespaces(dir.get())) return false;
  Descriptor exe(openat(dir.get(), "exe", O_RDONLY | O_CLOEXEC));
  if (!exe.valid() || !isSealedExecutable(exe.get())) return false;
  if (readAttribute(exe.get(), kIdentifierAttribute) !=
          requirement.identifier ||
      readAttribute(exe.get(), kTeamAttribute) != requirement.team) {
    return false;
  }
  // And after it: no process changes its own pid namespace, and one without
  // privileges here cannot come back to this user namespace once it has
  // left, so a peer still in the daemon's namespaces now was in them while
  // its executable was looked at and cannot have repointed it in between.
  return sharesNamespaces(dir.get());
}

}  // namespace vesk
