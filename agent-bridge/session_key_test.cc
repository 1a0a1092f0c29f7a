#include "session_key.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(SessionKey, IsSha256OfAgentThenIdentifier) {
  const std::pair<std::string, const char*> fips180[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [input, digest] : fips180) {
    EXPECT_EQ(sha256Hex(input), digest) << input.size() << " bytes";
    // The split between agent and identifier does not matter: no separator.
    EXPECT_EQ(sessionKey("", input), digest);
  }
  EXPECT_EQ(sessionKey("Claude Code", "abc"), sha256Hex("Claude Codeabc"));
  EXPECT_NE(sessionKey("Claude Code", "abc"), sessionKey("Cursor", "abc"));
}

}  // namespace
}  // namespace vesk
