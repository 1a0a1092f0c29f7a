// The record a run leaves for the desktop application: who the agent is,
// what it is doing, since when, and when this was last reported.
//
// Contract: buildStatusRecord() is pure apart from `clock`, which it calls
// once for "timestamp" and, unless "startedAt" is carried over from the
// previous record, once more afterwards. The record holds "agent",
// "session", "state", "timestamp", "project" (only with a project name),
// "startedAt" and "activity", in that order, nothing else. Cannot fail;
// any thread.

#ifndef VESK_AGENT_BRIDGE_STATUS_RECORD_H_
#define VESK_AGENT_BRIDGE_STATUS_RECORD_H_

#include <boost/json/object.hpp>
#include <boost/json/storage_ptr.hpp>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "hook_event.h"

namespace vesk {

// Seconds since 1970-01-01 00:00:00 UTC.
using WallClock = std::function<double()>;

// The system's wall clock at microsecond resolution. Values of that form
// have at most 16 significant digits, which every JSON reader, Boost.JSON's
// fast number path included, reads back as exactly the double written.
double systemWallClock();

struct StatusFacts {
  std::string_view agent;
  std::string_view sessionKey;
  AgentState state = AgentState::working;
  std::string_view activity;
  std::optional<std::string_view> projectName;
  bool promptSubmit = false;
};

// "startedAt" is the clock's time for a prompt submission, else the previous
// record's "startedAt" moved over unchanged whatever its JSON type, else the
// clock's time. `previous` must use the same memory as `storage` (both
// default, or the same resource) so that the carried value is moved, never
// copied.
boost::json::object buildStatusRecord(
    const StatusFacts& facts, std::optional<boost::json::object> previous,
    const WallClock& clock, boost::json::storage_ptr storage = {});

}  // namespace vesk

#endif  // VESK_AGENT_BRIDGE_STATUS_RECORD_H_
