#include "temp_dir.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>  // mkdtemp on macOS; <stdlib.h> on Linux

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vesk::testing {

TempDir::TempDir(const std::string& base) {
  const char* tmp = getenv("TMPDIR");
  std::string root = !base.empty()                     ? base
                     : tmp != nullptr && tmp[0] == '/' ? tmp
                                                       : "/tmp";
  path_ = root + "/lease-test-XXXXXX";
  if (mkdtemp(path_.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed in " + root);
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

bool fileExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!(out << bytes).flush()) throw std::runtime_error("cannot write " + path);
}

void writeScript(const std::string& path, const std::string& body) {
  // Renamed into place, so that no descriptor open for writing can make the
  // exec fail with ETXTBSY.
  writeFile(path + ".new", "#!/bin/sh\n" + body + "\n");
  chmod((path + ".new").c_str(), 0755);
  std::filesystem::rename(path + ".new", path);
}

std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::optional<std::string> runCommand(const std::string& command) {
#if defined(__APPLE__)
  // macOS's popen takes no "e" (EINVAL). Its pipe is then inheritable, but
  // later popen children close it and the daemon's children, started with
  // POSIX_SPAWN_CLOEXEC_DEFAULT, get only the descriptors named for them.
  FILE* pipe = popen(command.c_str(), "r");
#else
  FILE* pipe = popen(command.c_str(), "re");
#endif
  if (pipe == nullptr) return std::nullopt;
  std::string output;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    output.append(buffer, n);
  }
  int status = pclose(pipe);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return std::nullopt;
  }
  return output;
}

}  // namespace vesk::testing
