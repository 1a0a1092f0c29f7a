#include "session_key.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace vesk {
namespace {

TEST(Sha256Hex, MatchesFips180Vectors) {
  const std::pair<std::string, const char*> vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [input, digest] : vectors) {
    EXPECT_EQ(sha256Hex(input), digest) << input.size() << " bytes";
  }
}

TEST(SessionKey, HashesAgentThenIdentifierWithoutSeparator) {
  EXPECT_EQ(sessionKey("Claude Code", "abc"), sha256Hex("Claude Codeabc"));
  EXPECT_EQ(sessionKey("Cursor", ""), sha256Hex("Cursor"));
  // Identifiers differing only in case, blanks or agent name never share a
  // file; non-ASCII identifiers hash through their UTF-8 bytes.
  const std::pair<const char*, const char*> inputs[] = {
      {"Claude Code", "abc"},      {"Cursor", "abc"},
      {"Claude Code", "ABC"},      {"Claude Code", " abc"},
      {"Claude Code", "\xc3\xa9"}, {"Claude Codea", "bc"},
  };
  std::set<std::string> keys;
  for (const auto& [agent, id] : inputs) {
    const std::string key = sessionKey(agent, id);
    EXPECT_EQ(key.size(), 64u);
    EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), std::string::npos);
    keys.insert(key);
  }
  // "Claude Code"+"abc" and "Claude Codea"+"bc" are the same bytes.
  EXPECT_EQ(keys.size(), std::size(inputs) - 1);
}

}  // namespace
}  // namespace vesk
