// A temporary directory for tests, and the few file operations the lease
// daemon's tests do in one.

#ifndef VESK_LEASE_DAEMON_TESTING_TEMP_DIR_H_
#define VESK_LEASE_DAEMON_TESTING_TEMP_DIR_H_

#include <optional>
#include <string>

namespace vesk::testing {

// A fresh directory under `base` (default: the system's temporary
// directory), removed with its contents when the object goes away. Throws
// when the directory cannot be made: a test cannot go on without it.
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

}  // namespace vesk::testing

#endif  // VESK_LEASE_DAEMON_TESTING_TEMP_DIR_H_
