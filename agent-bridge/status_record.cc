#include "status_record.h"

#include <time.h>

#include <boost/json/value.hpp>
#include <cstdint>

namespace vesk {
namespace json = boost::json;

namespace {

json::string_view view(std::string_view text) {
  return json::string_view(text.data(), text.size());
}

}  // namespace

double systemWallClock() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const std::int64_t micros =
      static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
  // Both operands are exact doubles, so the quotient is the double nearest
  // to the decimal seconds.microseconds.
  return static_cast<double>(micros) / 1e6;
}

json::object buildStatusRecord(const StatusFacts& facts,
                               std::optional<json::object> previous,
                               const WallClock& clock,
                               json::storage_ptr storage) {
  json::object record(std::move(storage));
  record.emplace("agent", view(facts.agent));
  record.emplace("session", view(facts.sessionKey));
  record.emplace("state", view(agentStateText(facts.state)));
  record.emplace("timestamp", clock());
  if (facts.projectName) record.emplace("project", view(*facts.projectName));
  json::value* carried = nullptr;
  if (!facts.promptSubmit && previous) {
    carried = previous->if_contains("startedAt");
  }
  if (carried != nullptr) {
    record.emplace("startedAt", std::move(*carried));
  } else {
    record.emplace("startedAt", clock());
  }
  record.emplace("activity", view(facts.activity));
  return record;
}

}  // namespace vesk
