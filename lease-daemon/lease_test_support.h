// Helpers shared by the lease core's tests: temporary directories, files,
// stand-in executables and a way to run Python's plistlib as an independent
// reader and writer of property lists.

#ifndef VESK_LEASE_DAEMON_LEASE_TEST_SUPPORT_H_
#define VESK_LEASE_DAEMON_LEASE_TEST_SUPPORT_H_

#include <optional>
#include <string>
#include <vector>

namespace vesk::testing {

// A fresh directory, removed with its contents when the object goes away.
// `base` is where it is made; the default is the system's temporary
// directory.
class TempDir {
 public:
  explicit TempDir(const std::string& base = "");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

bool fileExists(const std::string& path);
std::optional<std::string> readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
// Writes a /bin/sh script with `body` after the "#!/bin/sh" line, mode 0755.
void writeScript(const std::string& path, const std::string& body);
// `text` quoted for /bin/sh.
std::string shellQuote(const std::string& text);

// Runs `command` through /bin/sh and returns its exit status and standard
// output; absent if it could not be run or ended through a signal.
struct CommandResult {
  int status;
  std::string output;
};
std::optional<CommandResult> runCommand(const std::string& command);

bool havePython();

// A stand-in for the power-management tool: a real executable (a shell
// script) that keeps the setting in a file beside it, logs every call with
// its arguments, and reports what its standard streams and descriptors
// were. "-g" prints the setting in the tool's layout; "-a disablesleep V"
// stores V (unless writes are rejected or ignored) and prints noise on both
// output streams.
class FakePmset {
 public:
  explicit FakePmset(const std::string& dir);
  const std::string& path() const { return path_; }

  std::string setting() const;
  void setSetting(const std::string& value);
  // The tool exits with status 1 on writes.
  void rejectWrites(bool on);
  // The tool exits with status 0 on writes but keeps the old value.
  void ignoreWrites(bool on);

  // One line per call: the arguments joined by spaces.
  std::vector<std::string> calls() const;
  // One line per call: "<first argument> in=<fd 0> out=<fd 1> err=<fd 2>
  // fd47=<yes|no> sigign=<mask of ignored signals>".
  std::vector<std::string> reports() const;

 private:
  std::string dir_;
  std::string path_;
};

}  // namespace vesk::testing

#endif  // VESK_LEASE_DAEMON_LEASE_TEST_SUPPORT_H_
