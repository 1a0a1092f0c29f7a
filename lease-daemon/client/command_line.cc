#include "command_line.h"

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <istream>
#include <ostream>
#include <string_view>
#include <thread>
#include <vector>

namespace vesk::client {

namespace {

constexpr char kUsage[] =
    "usage: vesk-lease-client [--socket PATH] [--count N] "
    "[--interval SECONDS] renew|release...\n"
    "       vesk-lease-client [--socket PATH] -\n"
    "       vesk-lease-client --help | --version\n";

constexpr char kOptions[] =
    "\n"
    "Sends lease calls to the lease daemon and prints each answer.\n"
    "\n"
    "  --socket PATH       the daemon's socket (on macOS: its Mach service)\n"
    "  --count N           send the list of actions N times (default 1)\n"
    "  --interval SECONDS  wait between rounds (default 1)\n"
    "  -                   read actions from standard input, one per line\n"
    "  --help              print this help\n"
    "  --version           print the version\n"
    "\n"
    "Exit status: 0 when every request was answered, 1 when the connection\n"
    "could not be made or was closed, 2 for a usage error.\n";

struct Options {
  std::string address;
  long count = 1;
  double interval = 1.0;
  bool fromInput = false;
  std::vector<Request> actions;
};

// What the arguments ask for: a run, or an exit status to end with at once.
struct Parsed {
  std::optional<Options> options;
  int status = kExitOk;
};

std::optional<Request> parseAction(std::string_view text) {
  if (text == "renew") return Request::kRenew;
  if (text == "release") return Request::kRelease;
  return std::nullopt;
}

const char* actionName(Request request) {
  return request == Request::kRenew ? "renew" : "release";
}

int usageError(const Streams& streams, const std::string& reason) {
  streams.err << kProgramName << ": " << reason << "\n" << kUsage;
  return kExitUsage;
}

std::optional<long> parseCount(std::string_view text) {
  long count = 0;
  auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), count);
  if (error != std::errc() || end != text.data() + text.size() || count < 1) {
    return std::nullopt;
  }
  return count;
}

std::optional<double> parseInterval(const char* text) {
  char* end = nullptr;
  double seconds = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(seconds >= 0)) return std::nullopt;
  return seconds;
}

Parsed parse(int argc, const char* const* argv, const Platform& platform,
             const Streams& streams) {
  Options options;
  options.address = platform.defaultAddress;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg == "--help") {
      streams.out << kUsage << kOptions;
      return {std::nullopt, kExitOk};
    }
    if (arg == "--version") {
      streams.out << kProgramName << " " << platform.version << "\n";
      return {std::nullopt, kExitOk};
    }
    bool takesValue =
        arg == "--socket" || arg == "--count" || arg == "--interval";
    if (takesValue && value == nullptr) {
      return {std::nullopt, usageError(streams, "option " + std::string(arg) +
                                                    " needs a value")};
    }
    if (arg == "--socket") {
      options.address = argv[++i];
    } else if (arg == "--count") {
      std::optional<long> count = parseCount(argv[++i]);
      if (!count) {
        return {std::nullopt, usageError(streams,
                                         "--count needs a whole number of at "
                                         "least 1, not \"" +
                                             std::string(argv[i]) + "\"")};
      }
      options.count = *count;
    } else if (arg == "--interval") {
      std::optional<double> interval = parseInterval(argv[++i]);
      if (!interval) {
        return {std::nullopt,
                usageError(streams,
                           "--interval needs a number of seconds, "
                           "not \"" +
                               std::string(argv[i]) + "\"")};
      }
      options.interval = *interval;
    } else if (arg == "-") {
      options.fromInput = true;
    } else if (std::optional<Request> action = parseAction(arg)) {
      options.actions.push_back(*action);
    } else {
      return {std::nullopt, usageError(streams, "unknown action or option \"" +
                                                    std::string(arg) + "\"")};
    }
  }
  if (options.fromInput && !options.actions.empty()) {
    return {std::nullopt,
            usageError(streams, "actions and \"-\" exclude each other")};
  }
  if (!options.fromInput && options.actions.empty()) {
    return {std::nullopt, usageError(streams, "no action given")};
  }
  return {std::move(options), kExitOk};
}

// Sends one action and prints its answer; false when the connection is
// gone.
bool report(Session& session, Request request, const Streams& streams) {
  std::optional<bool> answer = session.call(request);
  if (!answer) {
    streams.err << kProgramName << ": " << actionName(request)
                << ": connection closed\n";
    return false;
  }
  streams.out << actionName(request) << ": " << (*answer ? "YES" : "NO")
              << std::endl;
  return true;
}

int runActions(const Options& options, Session& session,
               const Streams& streams) {
  if (options.fromInput) {
    for (std::string line; std::getline(streams.in, line);) {
      if (line.empty()) continue;
      std::optional<Request> action = parseAction(line);
      if (!action) {
        streams.err << kProgramName << ": unknown action \"" << line << "\"\n";
        continue;
      }
      if (!report(session, *action, streams)) return kExitFailed;
    }
    return kExitOk;
  }
  for (long round = 0; round < options.count; ++round) {
    if (round > 0) {
      std::this_thread::sleep_for(
          std::chrono::duration<double>(options.interval));
    }
    for (Request action : options.actions) {
      if (!report(session, action, streams)) return kExitFailed;
    }
  }
  return kExitOk;
}

}  // namespace

int runCommandLine(int argc, const char* const* argv, const Platform& platform,
                   const Streams& streams) {
  Parsed parsed = parse(argc, argv, platform, streams);
  if (!parsed.options) return parsed.status;
  std::string error;
  std::unique_ptr<Session> session =
      platform.connect(parsed.options->address, error);
  if (!session) {
    streams.err << kProgramName << ": " << error << "\n";
    return kExitFailed;
  }
  return runActions(*parsed.options, *session, streams);
}

}  // namespace vesk::client
