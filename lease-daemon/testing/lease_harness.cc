#include "lease_harness.h"

#include <sstream>

namespace vesk::testing {

PmsetStandIn::PmsetStandIn(const std::string& dir)
    : dir_(dir), path_(dir + "/pmset") {
  writeFile(dir_ + "/value", "0\n");
  // The stand-in takes its folder from the environment; this launcher gives
  // it one without touching the test process's own environment.
  writeScript(path_, "PMSET_STAND_IN_DIR=" + shellQuote(dir_) +
                         " exec /bin/sh " + shellQuote(VESK_PMSET_STAND_IN) +
                         " \"$@\"");
}

void PmsetStandIn::setFlag(const std::string& name) const {
  writeFile(dir_ + "/" + name, "");
}

std::vector<std::string> PmsetStandIn::runs() const {
  std::vector<std::string> result;
  std::istringstream in(readFile(dir_ + "/runs").value_or(""));
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

bool PmsetStandIn::sawDescriptor(int fd) const {
  // "ls -l" of /proc/PID/fd: one "... FD -> TARGET" line per descriptor;
  // where there is no /proc (macOS), "ls" of /dev/fd: one "FD" line each.
  std::string number = std::to_string(fd);
  std::istringstream in(readFile(dir_ + "/fds").value_or(""));
  for (std::string line; std::getline(in, line);) {
    if (line == number || line.find(" " + number + " -> ") != line.npos) {
      return true;
    }
  }
  return false;
}

}  // namespace vesk::testing
