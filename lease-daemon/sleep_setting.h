// Access to the sleep-disabled setting through the power-management tool.
//
// readSleepDisabled() and setSleepDisabled() run kPowerManagementTool; the
// -With forms take the tool's path so that tests and benchmarks can run a
// stand-in executable. Each call runs the tool as a child process and blocks
// until it has been reaped; nothing is cached and nothing is written
// anywhere on failure. Any thread; the controller calls them on its queue.

#ifndef VESK_LEASE_DAEMON_SLEEP_SETTING_H_
#define VESK_LEASE_DAEMON_SLEEP_SETTING_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vesk {

inline constexpr char kPowerManagementTool[] = "/usr/bin/pmset";

// How much of the tool's output is kept for parsing. The "SleepDisabled"
// line comes within the first few KiB of real output; more is read but not
// stored.
inline constexpr size_t kMaxKeptToolOutput = 1024 * 1024;

// The setting as the tool's "-g" output states it: the value of the first
// line whose first token is "SleepDisabled" (tokens split at Unicode white
// space), 0 when there is no such line; absent when that line is not valid
// UTF-8 or not exactly the name and a decimal 0 or 1. Bytes that are not
// UTF-8 elsewhere in the output do not matter. Pure; safe on any bytes.
std::optional<int64_t> parseSleepDisabled(std::string_view output);

// Runs `tool -g`: 0 or 1 as its "SleepDisabled" line says (0 when there is
// no such line); absent when the tool cannot be run, exits with a status
// other than 0, or its line is malformed (parseSleepDisabled()). When
// the output is longer than kMaxKeptToolOutput the result comes from the
// complete lines kept, and is absent if they hold no "SleepDisabled" line.
std::optional<int64_t> readSleepDisabledWith(const std::string& tool);

// Runs `tool -a disablesleep <value>`, then verifies with a fresh
// readSleepDisabledWith(). True only when the tool exited with status 0 and
// the value read back equals `value`.
bool setSleepDisabledWith(const std::string& tool, int64_t value);

// readSleepDisabledWith() and setSleepDisabledWith() of kPowerManagementTool:
// the controller's defaults.
std::optional<int64_t> readSleepDisabled();
bool setSleepDisabled(int64_t value);

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_SLEEP_SETTING_H_
