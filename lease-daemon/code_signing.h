// Code identity: the platform's code-signing services.
//
// On Apple platforms these are the Security framework's code-signing calls;
// on Linux (code_signing-linux.cc) a program "carries a signature" when its
// executable is a root-owned regular file without group or other write bits
// that has the "trusted.codesign.identifier" and, for a team-signed program,
// "trusted.codesign.team" extended attributes; the check of a connecting
// process is platform-specific (code_signing-linux.h). All functions are
// safe to call from any thread and report failure only through their result.

#ifndef VESK_LEASE_DAEMON_CODE_SIGNING_H_
#define VESK_LEASE_DAEMON_CODE_SIGNING_H_

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

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_CODE_SIGNING_H_
