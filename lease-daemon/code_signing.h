// Code identity: the platform's code-signing services.
//
// On Apple platforms these are the Security framework's code-signing calls;
// on Linux (code_signing-linux.cc) a program "carries a signature" when its
// executable is a root-owned regular file without group or other write bits
// that has the "trusted.codesign.identifier" and, for a team-signed program,
// "trusted.codesign.team" extended attributes. All functions are safe to call
// from any thread and report failure only through their result.

#ifndef VESK_LEASE_DAEMON_CODE_SIGNING_H_
#define VESK_LEASE_DAEMON_CODE_SIGNING_H_

#include <sys/types.h>

#include <optional>
#include <string>

namespace vesk {

// A compiled code requirement: the signing identifier and team a client's
// code must carry.
struct CodeRequirement {
  std::string identifier;
  std::string team;
  bool operator==(const CodeRequirement&) const = default;
};

// The team identifier of the running daemon's own executable; absent when the
// executable carries no valid signature or no team.
std::optional<std::string> ownSigningTeam();

// Compiles a requirement text. Only the exact form that
// clientRequirementText() produces compiles; any other text yields absent.
std::optional<CodeRequirement> compileRequirement(const std::string& text);

// True when the process behind `pidfd` (whose id was `pid` when the
// descriptor was taken) is still alive, runs in the daemon's own user and
// pid namespaces, and its executable meets `requirement`. Any failure on the
// way refuses.
bool validateProcess(int pidfd, pid_t pid, const CodeRequirement& requirement);

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_CODE_SIGNING_H_
