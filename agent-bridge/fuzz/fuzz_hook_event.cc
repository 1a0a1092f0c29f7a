// Feeds arbitrary bytes through decoding, classification and record
// building as one run would, and checks what the record must always be.
// Decoding must also agree exactly with Boost.JSON's parser as Boost ships
// it: the same inputs refused, the same fields read.
// The first byte picks the agent, the base state and whether the same bytes
// also serve as the previous record; the rest is the event.

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/value.hpp>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "classification.h"
#include "hook_event.h"
#include "json_text.h"
#include "session_key.h"
#include "status_record.h"
#include "testing/stock_hook_event.h"

// Aborts, which the fuzzer reports, when a property does not hold.
static void require(bool condition) {
  if (!condition) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  namespace json = boost::json;
  using namespace vesk;
  if (size == 0) return 0;
  const std::uint8_t selector = data[0];
  const std::string_view input(reinterpret_cast<const char*>(data + 1),
                               size - 1);
  const std::string_view agent = selector & 1 ? "Cursor" : "Claude Code";
  const auto base = static_cast<AgentState>((selector >> 1) % 3);

  std::optional<HookEvent> event = decodeHookEvent(input, agent, base);
  require(event == testing::decodeHookEventWithStockParser(input, agent, base));
  if (!event) return 0;
  const Classification classification = classifyHookEvent(*event);
  if (classification.drop) {
    require(agent == "Claude Code" && event->eventName == "Notification");
    return 0;
  }
  require((classification.state == AgentState::needsAttention) ==
          (classification.activity == "Needs attention"));
  require(classification.state == base ||
          classification.state == AgentState::needsAttention);

  json::monotonic_resource memory;
  std::optional<json::object> previous;
  if (selector & 8) previous = parseJsonObject(input, &memory);
  const std::string key = sessionKey(event->agent, event->sessionId);
  const StatusFacts facts{event->agent,         key,
                          classification.state, classification.activity,
                          event->projectName,   classification.promptSubmit};
  const bool mayCarry = previous && !facts.promptSubmit;
  const json::object record = buildStatusRecord(
      facts, std::move(previous), [] { return 1733500000.123456; }, &memory);

  std::optional<std::string> text = writeCompactJson(record);
  // Only a carried-over value can lack a JSON form.
  require(text.has_value() || mayCarry);
  if (!text) return 0;
  std::optional<json::object> back = parseJsonObject(*text, &memory);
  require(back && back->size() == record.size() &&
          back->at("timestamp") == json::value(1733500000.123456) &&
          back->contains("project") == event->projectName.has_value());
  return 0;
}
