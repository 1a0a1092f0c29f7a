// The hook's event decoding run on Boost.JSON's parser exactly as Boost
// ships it, without the hook's faster string scan: the reference that
// decodeHookEvent() must match byte for byte. Tests and fuzzing only.

#ifndef VESK_AGENT_BRIDGE_TESTING_STOCK_HOOK_EVENT_H_
#define VESK_AGENT_BRIDGE_TESTING_STOCK_HOOK_EVENT_H_

#include <optional>
#include <string_view>

#include "event_field_handler.h"
#include "hook_event.h"

namespace vesk::testing {

// The same fields, under a type of its own, so its parser is Boost's own.
struct StockParsedFields : event_fields::EventFieldHandler {};

inline std::optional<HookEvent> decodeHookEventWithStockParser(
    std::string_view input, std::string_view agent, AgentState baseState) {
  return event_fields::decodeEventFields<StockParsedFields>(input, agent,
                                                            baseState);
}

}  // namespace vesk::testing

#endif  // VESK_AGENT_BRIDGE_TESTING_STOCK_HOOK_EVENT_H_
