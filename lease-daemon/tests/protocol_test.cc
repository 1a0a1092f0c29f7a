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

TEST(ProtocolTest, ClassifiesMessages) {
  struct Case {
    std::string message;
    std::optional<Request> expected;
  };
  const Case cases[] = {
      {"renewLeaseWithReply:", Request::kRenew},
      {"releaseLeaseWithReply:", Request::kRelease},
      {"", std::nullopt},
      {"renewLeaseWithReply", std::nullopt},
      {std::string("renewLeaseWithReply:\0", 21), std::nullopt},
      {"renewLeaseWithReply:\n", std::nullopt},
      {"RenewLeaseWithReply:", std::nullopt},
      {" releaseLeaseWithReply:", std::nullopt},
      {"renewLeaseWithReply:releaseLeaseWithReply:", std::nullopt},
      {std::string(65, 'a'), std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseRequest(c.message), c.expected) << "[" << c.message << "]";
  }
  EXPECT_EQ(parseRequest(selectorFor(Request::kRenew)), Request::kRenew);
  EXPECT_EQ(parseRequest(selectorFor(Request::kRelease)), Request::kRelease);
}

TEST(ProtocolTest, ReplyBytes) {
  EXPECT_EQ(replyByte(true), '\x01');
  EXPECT_EQ(replyByte(false), '\x00');
  EXPECT_EQ(parseReply(std::string(1, '\x01')), true);
  EXPECT_EQ(parseReply(std::string(1, '\x00')), false);
  EXPECT_EQ(parseReply(""), std::nullopt);
  EXPECT_EQ(parseReply("\x02"), std::nullopt);
  EXPECT_EQ(parseReply(std::string("\x01\x01", 2)), std::nullopt);
}

TEST(ClientRequirementTest, TeamIdentifierRule) {
  struct Case {
    std::optional<std::string> team;
    bool valid;
  };
  const Case cases[] = {
      {"ABCDE12345", true},
      {"0123456789", true},
      {"ZZZZZZZZZZ", true},
      {std::nullopt, false},
      {"", false},
      {"ABCDE1234", false},
      {"ABCDE123456", false},
      {"abcde12345", false},
      {"ABCDe12345", false},
      {"ABCDE 2345", false},
      {"ABCDE\"2345", false},
      {"ABCDE\n2345", false},
      {std::string("ABCDE\0"
                   "2345",
                   10),
       false},
      {"ABCDÉ1234", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(clientRequirementText(c.team).has_value(), c.valid)
        << c.team.value_or("(absent)");
  }
}

TEST(ClientRequirementTest, ExactText) {
  EXPECT_EQ(clientRequirementText(std::string("ABCDE12345")),
            "anchor apple generic and identifier \"com.vesk.Vesk\" and "
            "certificate leaf[subject.OU] = \"ABCDE12345\"");
}

TEST(CompileRequirementTest, OnlyTheClientRequirementTextCompiles) {
  std::string good = *clientRequirementText(std::string("K7Q2M9X4TZ"));
  EXPECT_EQ(compileRequirement(good),
            (CodeRequirement{"com.vesk.Vesk", "K7Q2M9X4TZ"}));

  const std::string bad[] = {
      "",
      good + " ",
      " " + good,
      good.substr(0, good.size() - 1),
      "anchor apple generic and identifier \"com.vesk.Other\" and "
      "certificate leaf[subject.OU] = \"K7Q2M9X4TZ\"",
      "anchor apple generic and identifier \"com.vesk.Vesk\" and "
      "certificate leaf[subject.OU] = \"k7q2m9x4tz\"",
      "anchor apple generic and identifier \"com.vesk.Vesk\" and "
      "certificate leaf[subject.OU] = \"K7Q2M9X4T\"",
      "anchor apple generic and identifier \"com.vesk.Vesk\" and "
      "certificate leaf[subject.OU] = \"K7Q2M9X4TZ\" or true",
      "anchor apple generic and identifier \"com.vesk.Vesk\"",
      "identifier \"com.vesk.Vesk\"",
  };
  for (const std::string& text : bad) {
    EXPECT_EQ(compileRequirement(text), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace vesk
