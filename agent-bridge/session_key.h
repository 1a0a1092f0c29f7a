// The name under which a session's status is kept.
//
// Contract: sessionKey() returns the SHA-256 digest of the agent name's bytes
// immediately followed by the session identifier's bytes, as 64 lower-case
// hexadecimal digits. The agent name is part of the input so that one
// identifier seen by two agents names two files. Pure; cannot fail; any
// thread.

#ifndef VESK_AGENT_BRIDGE_SESSION_KEY_H_
#define VESK_AGENT_BRIDGE_SESSION_KEY_H_

#include <string>
#include <string_view>

namespace vesk {

std::string sessionKey(std::string_view agent, std::string_view sessionId);

}  // namespace vesk

#endif  // VESK_AGENT_BRIDGE_SESSION_KEY_H_
