// Code identity of a connecting process on Linux (see code_signing.h).

#ifndef VESK_LEASE_DAEMON_CODE_SIGNING_LINUX_H_
#define VESK_LEASE_DAEMON_CODE_SIGNING_LINUX_H_

#include <sys/types.h>

#include "code_signing.h"

namespace vesk {

// True when the process behind `pidfd` (whose id was `pid` when the
// descriptor was taken) is still alive, runs in the daemon's own user and
// pid namespaces, and its executable meets `requirement`. Any failure on the
// way refuses. Any thread.
bool validateProcess(int pidfd, pid_t pid, const CodeRequirement& requirement);

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_CODE_SIGNING_LINUX_H_
