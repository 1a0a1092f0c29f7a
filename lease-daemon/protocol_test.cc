// Message classification, reply bytes, the client requirement text and the
// requirement texts that compile.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "client_requirement.h"
#include "code_signing.h"
#include "protocol.h"

namespace vesk {
namespace {

TEST(ProtocolTest, ClassifiesMessagesAndReplies) {
  const std::pair<std::string, std::optional<Request>> requests[] = {
      {"renewLeaseWithReply:", Request::kRenew},
      {"releaseLeaseWithReply:", Request::kRelease},
      {"", std::nullopt},
      {"renewLeaseWithReply", std::nullopt},
      {std::string("renewLeaseWithReply:\0", 21), std::nullopt},
      {"RenewLeaseWithReply:", std::nullopt},
      {"renewLeaseWithReply:releaseLeaseWithReply:", std::nullopt},
      {std::string(65, 'a'), std::nullopt},
  };
  for (const auto& [message, expected] : requests) {
    EXPECT_EQ(parseRequest(message), expected) << "[" << message << "]";
  }
  const std::pair<std::string, std::optional<bool>> replies[] = {
      {std::string(1, '\x01'), true},
      {std::string(1, '\x00'), false},
      {"", std::nullopt},
      {"\x02", std::nullopt},
      {"\x01\x01", std::nullopt},
  };
  for (const auto& [bytes, expected] : replies) {
    EXPECT_EQ(parseReply(bytes), expected);
  }
}

TEST(ClientRequirementTest, TeamRuleAndExactText) {
  EXPECT_EQ(clientRequirementText(std::string("ABCDE12345")),
            "anchor apple generic and identifier \"com.vesk.Vesk\" and "
            "certificate leaf[subject.OU] = \"ABCDE12345\"");
  const std::optional<std::string> invalid[] = {
      std::nullopt,  "",           "ABCDE1234",
      "ABCDE123456", "abcde12345", "ABCDE 2345",
      "ABCDE\"2345", "ABCDÉ1234",  std::string("ABCDE\0002345", 10),
  };
  for (const auto& team : invalid) {
    EXPECT_EQ(clientRequirementText(team), std::nullopt)
        << team.value_or("(absent)");
  }
}

TEST(CompileRequirementTest, OnlyTheClientRequirementTextCompiles) {
  std::string good = *clientRequirementText(std::string("K7Q2M9X4TZ"));
  EXPECT_EQ(compileRequirement(good),
            (CodeRequirement{"com.vesk.Vesk", "K7Q2M9X4TZ"}));
  const std::string prefix =
      "anchor apple generic and identifier \"com.vesk.Vesk\" and "
      "certificate leaf[subject.OU] = ";
  const std::string bad[] = {
      "",
      good + " ",
      good.substr(0, good.size() - 1),
      prefix + "\"k7q2m9x4tz\"",
      prefix + "\"K7Q2M9X4TZ\" or true",
      "anchor apple generic and identifier \"com.vesk.Other\" and "
      "certificate leaf[subject.OU] = \"K7Q2M9X4TZ\"",
      "identifier \"com.vesk.Vesk\"",
  };
  for (const std::string& text : bad) {
    EXPECT_EQ(compileRequirement(text), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace vesk
