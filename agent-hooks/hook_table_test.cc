#include "hook_table.h"

#include <string>

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(BridgeCommandTest, RecognisesOwnCommandsOnly) {
  for (const char* path :
       {"/opt/Vesk Tools/VeskAgentBridge", "/home/o'neil/bin/VeskAgentBridge",
        "/a/$HOME/VeskAgentBridge"}) {
    std::string command = bridgeCommand(path, Agent::kCursor, "idle");
    EXPECT_TRUE(isBridgeCommand(command)) << command;
  }
  EXPECT_EQ(bridgeCommand("/opt/Vesk Tools/VeskAgentBridge", Agent::kClaudeCode,
                          "working"),
            "'/opt/Vesk Tools/VeskAgentBridge' 'Claude Code' working");

  struct Case {
    const char* command;
    bool ours;
  } cases[] = {
      {"VeskAgentBridge Cursor idle", true},
      {"  \"/opt/a b/VeskAgentBridge\" Cursor idle", true},
      {"/usr/local/bin/VeskAgentBridge;echo x", true},
      {"echo VeskAgentBridge", false},
      {"/usr/bin/VeskAgentBridgeOld 'Claude Code' idle", false},
      {"/usr/bin/VeskAgentBridge/other idle", false},
      {"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isBridgeCommand(c.command), c.ours) << c.command;
  }
}

}  // namespace
}  // namespace vesk
