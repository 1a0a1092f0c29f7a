// A fresh directory under /tmp for one test, removed with its contents when
// the object goes away; throws (failing the test) when none can be made.
// Tests only; one thread per object.

#ifndef VESK_AGENT_BRIDGE_TESTING_TEMP_DIR_H_
#define VESK_AGENT_BRIDGE_TESTING_TEMP_DIR_H_

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

namespace vesk::testing {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/agent-bridge-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace vesk::testing

#endif  // VESK_AGENT_BRIDGE_TESTING_TEMP_DIR_H_
