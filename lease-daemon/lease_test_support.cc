#include "lease_test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vesk::testing {

TempDir::TempDir(const std::string& base) {
  std::string root = base;
  if (root.empty()) {
    const char* tmp = getenv("TMPDIR");
    root = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
  }
  std::string pattern = root + "/lease-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed in " + root);
  }
  path_ = pattern;
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
  out << bytes;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

void writeScript(const std::string& path, const std::string& body) {
  // Written beside and renamed into place, so that no descriptor open for
  // writing can make the exec fail with ETXTBSY.
  std::string temporary = path + ".new";
  writeFile(temporary, "#!/bin/sh\n" + body + "\n");
  chmod(temporary.c_str(), 0755);
  std::filesystem::rename(temporary, path);
}

std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::optional<CommandResult> runCommand(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "re");
  if (pipe == nullptr) return std::nullopt;
  CommandResult result{0, ""};
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    result.output.append(buffer, n);
  }
  int status = pclose(pipe);
  if (status == -1 || !WIFEXITED(status)) return std::nullopt;
  result.status = WEXITSTATUS(status);
  return result;
}

bool havePython() {
  std::optional<CommandResult> r = runCommand("python3 -c 'import plistlib'");
  return r && r->status == 0;
}

namespace {

std::vector<std::string> lines(const std::optional<std::string>& text) {
  std::vector<std::string> result;
  if (!text) return result;
  std::istringstream in(*text);
  std::string line;
  while (std::getline(in, line)) result.push_back(line);
  return result;
}

void setFlag(const std::string& path, bool on) {
  if (on) {
    writeFile(path, "");
  } else {
    unlink(path.c_str());
  }
}

}  // namespace

FakePmset::FakePmset(const std::string& dir)
    : dir_(dir), path_(dir + "/pmset") {
  setSetting("0");
  writeScript(path_, "d=" + shellQuote(dir_) + R"SH(
printf '%s\n' "$*" >> "$d/calls"
fd47=no; [ -e /proc/$$/fd/47 ] && fd47=yes
printf '%s\n' "$1 in=$(readlink /proc/$$/fd/0) out=$(readlink /proc/$$/fd/1)\
 err=$(readlink /proc/$$/fd/2) fd47=$fd47\
 sigign=$(sed -n 's/^SigIgn:[[:space:]]*//p' /proc/$$/status)" >> "$d/reports"
case "$1" in
-g)
  printf 'System-wide power settings:\n SleepDisabled\t\t%s\n' "$(cat "$d/setting")"
  printf 'Currently in use:\n sleep\t\t1\n'
  exit 0;;
-a)
  [ "$#" = 3 ] && [ "$2" = disablesleep ] || exit 64
  [ -e "$d/reject" ] && exit 1
  [ -e "$d/ignore" ] || printf '%s' "$3" > "$d/setting"
  echo 'Warning: this is a stand-in'
  echo 'stand-in' >&2
  exit 0;;
esac
exit 64)SH");
}

std::string FakePmset::setting() const {
  return readFile(dir_ + "/setting").value_or("");
}

void FakePmset::setSetting(const std::string& value) {
  writeFile(dir_ + "/setting", value);
}

void FakePmset::rejectWrites(bool on) { setFlag(dir_ + "/reject", on); }

void FakePmset::ignoreWrites(bool on) { setFlag(dir_ + "/ignore", on); }

std::vector<std::string> FakePmset::calls() const {
  return lines(readFile(dir_ + "/calls"));
}

std::vector<std::string> FakePmset::reports() const {
  return lines(readFile(dir_ + "/reports"));
}

}  // namespace vesk::testing
