// Helpers shared by the lease core's tests: temporary directories, files,
// shell commands and a stand-in for the power-management tool.

#ifndef VESK_LEASE_DAEMON_LEASE_TEST_SUPPORT_H_
#define VESK_LEASE_DAEMON_LEASE_TEST_SUPPORT_H_

#include <optional>
#include <string>
#include <vector>

namespace vesk::testing {

// A fresh directory under `base` (default: the system's temporary
// directory), removed with its contents when the object goes away.
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
// A /bin/sh script with `body`, mode 0755.
void writeScript(const std::string& path, const std::string& body);
std::string shellQuote(const std::string& text);
// Standard output of `command` run by /bin/sh; absent unless it exits 0.
std::optional<std::string> runCommand(const std::string& command);

// A stand-in power-management tool: a shell script that keeps the setting
// in a file beside it and logs its calls. "-g" prints the setting in the
// tool's layout; "-a disablesleep V" stores V and prints noise on both
// output streams. A flag file "reject" beside it makes writes exit 1,
// "ignore" makes them exit 0 without storing.
class FakePmset {
 public:
  explicit FakePmset(const std::string& dir);
  const std::string& path() const { return path_; }
  std::string setting() const;
  void setFlag(const std::string& name) const;
  // The arguments of each call, joined by spaces.
  std::vector<std::string> calls() const;
  // Whether any call found descriptor 47 open.
  bool sawDescriptor47() const;

 private:
  std::string dir_;
  std::string path_;
};

}  // namespace vesk::testing

#endif  // VESK_LEASE_DAEMON_LEASE_TEST_SUPPORT_H_
