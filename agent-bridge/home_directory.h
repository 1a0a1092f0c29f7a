// The running user's home directory, as the platform defines it.
//
// Contract: homeDirectory() yields HOME when it is set to an absolute path,
// otherwise the password database's home directory of the real user id when
// that is absolute, otherwise nothing. Reads the environment and the
// password database; never prints; call it from the main thread.

#ifndef VESK_AGENT_BRIDGE_HOME_DIRECTORY_H_
#define VESK_AGENT_BRIDGE_HOME_DIRECTORY_H_

#include <optional>
#include <string>

namespace vesk {

std::optional<std::string> homeDirectory();

}  // namespace vesk

#endif  // VESK_AGENT_BRIDGE_HOME_DIRECTORY_H_
