// The command line of vesk-lease-client, the same on every platform.
//
//   vesk-lease-client [--socket PATH] [--count N] [--interval SECONDS]
//                     ACTION...
//   vesk-lease-client [--socket PATH] -
//   vesk-lease-client --help | --version
//
// ACTION is "renew" or "release". The actions are sent in order on one
// connection, the whole list N times (default 1) with SECONDS (default 1)
// between rounds; each answer is printed as "renew: YES" or "renew: NO". With
// "-" the actions are read from the input, one per line, and the connection
// stays open until the input ends.
//
// The platform part supplies only the connection (Connect below); parsing,
// messages, the action loop and the exit status are here. Runs on the
// calling thread; nothing is global.

#ifndef VESK_LEASE_DAEMON_CLIENT_COMMAND_LINE_H_
#define VESK_LEASE_DAEMON_CLIENT_COMMAND_LINE_H_

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "protocol.h"

namespace vesk::client {

inline constexpr char kProgramName[] = "vesk-lease-client";

// Exit statuses: every request answered (and --help, --version); the
// connection could not be made or was closed (a refused client sees that);
// a usage error.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// One open connection to the daemon.
class Session {
 public:
  virtual ~Session() = default;
  // Sends `request` and waits for its answer; absent when the connection
  // failed or was closed.
  virtual std::optional<bool> call(Request request) = 0;
};

// Opens a connection to the service at `address`. On failure returns
// nullptr and sets `error` to what failed and why, e.g. "cannot connect to
// /run/x: Permission denied".
using Connect = std::function<std::unique_ptr<Session>(
    const std::string& address, std::string& error)>;

struct Streams {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
};

// What the platform part provides.
struct Platform {
  std::string defaultAddress;  // used when no --socket is given
  std::string version;         // printed by --version
  Connect connect;
};

// Runs the program for `argv[1..argc)`; returns its exit status. Help and
// version go to `out`, answers to `out` (flushed after each), usage errors
// and failures to `err`, each message starting with the program's name.
int runCommandLine(int argc, const char* const* argv, const Platform& platform,
                   const Streams& streams);

}  // namespace vesk::client

#endif  // VESK_LEASE_DAEMON_CLIENT_COMMAND_LINE_H_
