#include "session_key.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

// One digest pinned from an independent tool (sha256sum of the agent name
// followed directly by the identifier) catches a wrong order, a separator,
// a dropped piece and upper-case or truncated hex alike.
TEST(SessionKey, IsTheDigestOfAgentThenIdentifierInLowerCaseHex) {
  EXPECT_EQ(sessionKey("Claude Code", "9f1c0b7e-3a4d-4c2e-8b61-d5a7e0f42c19"),
            "2d021aa9b7cc7f36d0c2b1f397c9ec33a806ef007edcb148460162c808bc5b73");
}

}  // namespace
}  // namespace vesk
