#include "home_directory.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace vesk {

std::optional<std::string> homeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
    return std::string(home);

  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/')
    return std::nullopt;
  return std::string(found->pw_dir);
}

}  // namespace vesk
