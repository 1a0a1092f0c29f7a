// The code requirement that a client process must meet to be served.
//
// clientRequirementText() is pure and runs anywhere. buildClientRequirement()
// reads the daemon's own signing team through the platform's code-signing
// layer (code_signing.h) and never fails loudly: any failure yields no
// requirement, and then every connection is refused.

#ifndef VESK_LEASE_DAEMON_CLIENT_REQUIREMENT_H_
#define VESK_LEASE_DAEMON_CLIENT_REQUIREMENT_H_

#include <optional>
#include <string>

#include "app_identifier.h"
#include "code_signing.h"

namespace vesk {

// "anchor apple generic and identifier \"<app>\" and certificate
// leaf[subject.OU] = \"<team>\"" for a team identifier of exactly ten
// characters from A-Z and 0-9; absent for anything else.
std::optional<std::string> clientRequirementText(
    const std::optional<std::string>& teamIdentifier);

// Own signing team -> requirement text -> compiled requirement. Absent on any
// failure along the way.
std::optional<CodeRequirement> buildClientRequirement();

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_CLIENT_REQUIREMENT_H_
