#include "command_line.h"

#include <getopt.h>

#include <charconv>
#include <cmath>
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
    "  -h, --help          print this help\n"
    "  --version           print the version\n"
    "\n"
    "Options take their value as the next argument or after \"=\"\n"
    "(--count=3); \"--\" ends the options.\n"
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

// Between rounds the daemon's lease runs out after seconds; an interval
// beyond a day, or one that is not a finite number, is a mistake (and
// would overflow the sleep).
constexpr double kMaxIntervalSeconds = 86400;

std::optional<double> parseInterval(const char* text) {
  char* end = nullptr;
  double seconds = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(seconds) ||
      seconds < 0 || seconds > kMaxIntervalSeconds) {
    return std::nullopt;
  }
  return seconds;
}

// Starts getopt_long afresh: optind 0 makes both glibc's and the BSD
// getopt_long (macOS) reset their state, a process may parse more than one
// command line.
void resetGetopt() {
  optind = 0;
  opterr = 0;
}

enum OptionId { kSocket = 1, kCount, kInterval, kHelp, kVersion };

constexpr option kLongOptions[] = {
    {"socket", required_argument, nullptr, kSocket},
    {"count", required_argument, nullptr, kCount},
    {"interval", required_argument, nullptr, kInterval},
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

// The option getopt_long just refused, as the user wrote it.
std::string refusedOption(char* const* args) {
  // Long options carry ids below ' '; a short one is its own letter.
  if (optopt >= ' ') return std::string("-") + static_cast<char>(optopt);
  std::string_view arg = args[optind - 1];
  return std::string(arg.substr(0, arg.find('=')));
}

// Applies one option; returns a usage error's reason, or "" when fine.
std::string applyOption(int id, const char* value, Options& options) {
  if (id == kSocket) {
    options.address = value;
  } else if (id == kCount) {
    std::optional<long> count = parseCount(value);
    if (!count) {
      return "--count needs a whole number of at least 1, not \"" +
             std::string(value) + "\"";
    }
    options.count = *count;
  } else if (id == kInterval) {
    std::optional<double> interval = parseInterval(value);
    if (!interval) {
      return "--interval needs a number of seconds from 0 to 86400, not \"" +
             std::string(value) + "\"";
    }
    options.interval = *interval;
  }
  return "";
}

Parsed parse(int argc, const char* const* argv, const Platform& platform,
             const Streams& streams) {
  Options options;
  options.address = platform.defaultAddress;
  // getopt_long reorders its argument vector; it gets a copy.
  std::vector<std::string> storage(argv, argv + argc);
  std::vector<char*> args;
  for (std::string& arg : storage) args.push_back(arg.data());
  args.push_back(nullptr);
  resetGetopt();
  for (;;) {
    int id = getopt_long(argc, args.data(), ":h", kLongOptions, nullptr);
    if (id == -1) break;
    if (id == 'h' || id == kHelp) {
      streams.out << kUsage << kOptions;
      return {std::nullopt, kExitOk};
    }
    if (id == kVersion) {
      streams.out << kProgramName << " " << platform.version << "\n";
      return {std::nullopt, kExitOk};
    }
    if (id == ':') {
      return {std::nullopt,
              usageError(streams, "option " + refusedOption(args.data()) +
                                      " needs a value")};
    }
    if (id == '?') {
      return {std::nullopt,
              usageError(streams, "unknown action or option \"" +
                                      refusedOption(args.data()) + "\"")};
    }
    std::string reason = applyOption(id, optarg, options);
    if (!reason.empty()) return {std::nullopt, usageError(streams, reason)};
  }
  for (int i = optind; i < argc; ++i) {
    std::string_view arg = args[i];
    if (arg == "-") {
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
