// Code identity on Apple platforms, beyond the neutral calls of
// code_signing.h: the compiled requirement and its text for the XPC layer,
// and the running code of a connecting process, looked up by the kernel's
// audit token.
//
// A CodeRequirement stays the neutral pair (identifier, team); its text here
// is the one the daemon forms for it, clientRequirementText(team), and the
// XPC layer compiles that once (CompiledRequirement) and checks every
// client against the compiled form. All functions are safe on any thread
// and report failure only through their result.

#ifndef VESK_LEASE_DAEMON_CODE_SIGNING_APPLE_H_
#define VESK_LEASE_DAEMON_CODE_SIGNING_APPLE_H_

#include <Security/Security.h>
#include <mach/message.h>
#include <sys/types.h>

#include <optional>
#include <string>

#include "cf_holder-apple.h"
#include "code_signing.h"

namespace vesk {

// The requirement text of `requirement`; absent unless its identifier is the
// app's and its team a team identifier.
std::optional<std::string> requirementText(const CodeRequirement& requirement);

// A requirement text and its compiled form, made together once: the
// compiled form for SecCodeCheckValidity, the text for XPC's own check of
// every message (which takes only a text).
struct CompiledRequirement {
  std::string text;
  CFHolder<SecRequirementRef> compiled;
};

// `text` compiled with SecRequirementCreateWithString; absent when it does
// not compile.
std::optional<CompiledRequirement> compileRequirementText(
    const std::string& text);

// The running code of the process that `token` names
// (kSecGuestAttributeAudit). The token carries the process id's version, so
// it never names a later process that reused the id. Null when that process
// is gone or cannot be looked up.
CFHolder<SecCodeRef> guestCodeForAuditToken(const audit_token_t& token);

// The running code of process `pid` (kSecGuestAttributePid), for when no
// audit token can be had. Open to id reuse: see SECURITY.md.
CFHolder<SecCodeRef> guestCodeForProcess(pid_t pid);

// True when `code` is validly signed and satisfies `requirement`.
bool codeSatisfies(SecCodeRef code, SecRequirementRef requirement);

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_CODE_SIGNING_APPLE_H_
