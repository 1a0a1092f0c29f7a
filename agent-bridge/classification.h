// What an agent event means for the session's status: the final state, the
// activity text and whether the event starts a new stretch of work, or that
// the event is to be ignored altogether.
//
// Contract: classifyHookEvent() is a pure function of the event's agent, base
// state, event name, tool name and notification type. It cannot fail; it may
// run on any thread.

#ifndef VESK_AGENT_BRIDGE_CLASSIFICATION_H_
#define VESK_AGENT_BRIDGE_CLASSIFICATION_H_

#include <string>

#include "hook_event.h"

namespace vesk {

struct Classification {
  // A dropped event leaves the session's status file as it was; the other
  // fields are then meaningless.
  bool drop = false;
  AgentState state = AgentState::working;
  std::string activity;
  bool promptSubmit = false;
};

// The state is only ever raised to needsAttention, and only for
// "Claude Code": before a question or plan-approval tool runs, and on an
// attention-type notification. Other "Claude Code" notifications are dropped.
Classification classifyHookEvent(const HookEvent& event);

}  // namespace vesk

#endif  // VESK_AGENT_BRIDGE_CLASSIFICATION_H_
