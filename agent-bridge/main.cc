// VeskAgentBridge: run by a coding agent once per hook event, as
//   VeskAgentBridge AGENT BASE_STATE  < event.json
// It records the agent session's state in its status file and ends silently
// with status 0 on every path; the agent must never see output or an error.

#include <signal.h>
#include <unistd.h>

#include <boost/json/monotonic_resource.hpp>
#include <optional>
#include <string>

#include "classification.h"
#include "home_directory.h"
#include "hook_event.h"
#include "hook_input.h"
#include "session_key.h"
#include "status_file.h"
#include "status_record.h"

namespace {

void run(int argc, char** argv) {
  // A file-size limit inherited from the agent must end the write with an
  // error the run ignores, not kill the process.
  ::signal(SIGXFSZ, SIG_IGN);

  if (argc != 3 || !vesk::isKnownAgent(argv[1])) return;
  const std::optional<vesk::AgentState> baseState =
      vesk::agentStateFromText(argv[2]);
  if (!baseState) return;

  std::optional<vesk::HookInput> input = vesk::readHookInput(STDIN_FILENO);
  if (!input) return;
  std::optional<vesk::HookEvent> event =
      vesk::decodeHookEvent(input->bytes(), argv[1], *baseState);
  input.reset();
  if (!event) return;

  // The status directory is prepared and the previous record read before
  // the classification may drop the event.
  const std::string key = vesk::sessionKey(event->agent, event->sessionId);
  const std::optional<std::string> home = vesk::homeDirectory();
  if (!home) return;
  const std::string path =
      vesk::statusFilePath(vesk::makeStatusDirectory(*home), key);

  // One arena for the previous record and the new one: the carried
  // "startedAt" moves between them without a copy, and everything is
  // released at once, however deeply nested.
  unsigned char firstBlock[16384];
  boost::json::monotonic_resource memory(firstBlock, sizeof firstBlock);
  std::optional<boost::json::object> previous =
      vesk::loadPreviousRecord(path, &memory);

  const vesk::Classification classification = vesk::classifyHookEvent(*event);
  if (classification.drop) return;

  vesk::StatusFacts facts;
  facts.agent = event->agent;
  facts.sessionKey = key;
  facts.state = classification.state;
  facts.activity = classification.activity;
  if (event->projectName) facts.projectName = *event->projectName;
  facts.promptSubmit = classification.promptSubmit;
  const boost::json::object record = vesk::buildStatusRecord(
      facts, std::move(previous), vesk::systemWallClock, &memory);
  vesk::writeStatusRecord(record, path);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    run(argc, argv);
  } catch (...) {
    // Out of memory is the only thing that throws; the agent still gets 0.
  }
  return 0;
}
