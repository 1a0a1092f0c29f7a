#include "status_record.h"

#include <gtest/gtest.h>

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <limits>
#include <vector>

#include "json_text.h"

namespace vesk {
namespace {
namespace json = boost::json;

// Hands out 100.5, 200.5, ... so each reading is identifiable.
struct FakeClock {
  int readings = 0;
  double operator()() { return 100.5 * ++readings; }
};

StatusFacts factsFor(const char* agent, AgentState state,
                     const char* activity) {
  StatusFacts facts;
  facts.agent = agent;
  facts.sessionKey = "k";
  facts.state = state;
  facts.activity = activity;
  return facts;
}

std::vector<std::string> keysOf(const json::object& record) {
  std::vector<std::string> keys;
  for (const auto& entry : record) keys.emplace_back(entry.key());
  return keys;
}

TEST(BuildStatusRecord, ChoosesStartedAt) {
  struct Case {
    const char* name;
    const char* previous;  // nullptr: no previous record
    bool promptSubmit;
    const char* startedAt;
    int readings;
  };
  const Case cases[] = {
      {"first record", nullptr, false, "201.0", 2},
      {"prompt on first record", nullptr, true, "201.0", 2},
      {"carried number", R"({"startedAt":5.25,"x":1})", false, "5.25", 1},
      {"carried string", R"({"startedAt":"then"})", false, R"("then")", 1},
      {"carried null", R"({"startedAt":null})", false, "null", 1},
      {"carried nesting", R"({"startedAt":[{"a":[1]}]})", false,
       R"([{"a":[1]}])", 1},
      {"previous without startedAt", R"({"agent":"Cursor"})", false, "201.0",
       2},
      {"prompt replaces carried", R"({"startedAt":5.25})", true, "201.0", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<json::object> previous;
    if (c.previous) previous = parseJsonObject(c.previous);
    FakeClock clock;
    StatusFacts facts = factsFor("Cursor", AgentState::idle, "Running");
    facts.promptSubmit = c.promptSubmit;
    const json::object record =
        buildStatusRecord(facts, std::move(previous), std::ref(clock));
    EXPECT_EQ(clock.readings, c.readings);
    EXPECT_EQ(keysOf(record),
              (std::vector<std::string>{"agent", "session", "state",
                                        "timestamp", "startedAt", "activity"}));
    EXPECT_EQ(record.at("timestamp"), json::value(100.5));
    std::optional<std::string> text = writeCompactJson(record);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, std::string(R"({"agent":"Cursor","session":"k",)") +
                         R"("state":"idle","timestamp":100.5,"startedAt":)" +
                         c.startedAt + R"(,"activity":"Running"})");
  }
}

TEST(BuildStatusRecord, AddsProjectOnlyWhenNamed) {
  StatusFacts facts =
      factsFor("Claude Code", AgentState::needsAttention, "Needs attention");
  facts.projectName = "";
  const json::object record = buildStatusRecord(facts, {}, FakeClock());
  EXPECT_EQ(record.size(), 7u);
  EXPECT_EQ(record.at("project"), "");
  EXPECT_EQ(record.at("state"), "needsAttention");
}

TEST(WriteCompactJson, WritesDoublesThatReadBackExactly) {
  const double numbers[] = {
      1733500000.123456, 1733500000.0, 0.1, -0.0, 1e300, 5e-324,
      systemWallClock()};
  for (double number : numbers) {
    json::object record;
    record["t"] = number;
    std::optional<std::string> text = writeCompactJson(record);
    ASSERT_TRUE(text);
    std::optional<json::object> back = parseJsonObject(*text);
    ASSERT_TRUE(back) << *text;
    ASSERT_TRUE(back->at("t").is_double()) << *text;
    EXPECT_EQ(back->at("t").get_double(), number) << *text;
  }
  json::object natural;
  natural["t"] = 1733500000.123456;
  EXPECT_EQ(writeCompactJson(natural), R"({"t":1733500000.123456})");
}

TEST(WriteCompactJson, RefusesNumbersWithoutJsonForm) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const json::value& value :
       {json::value(inf), json::value(nan),
        json::value(json::array{1, json::object{{"a", -inf}}})}) {
    json::object record{{"agent", "Cursor"}};
    record["startedAt"] = value;
    EXPECT_FALSE(writeCompactJson(record));
  }
  // A parsed 1e400 is such an infinity.
  std::optional<json::object> previous =
      parseJsonObject(R"({"startedAt":1e400})");
  ASSERT_TRUE(previous);
  EXPECT_FALSE(writeCompactJson(*previous));
}

TEST(WriteCompactJson, CarriesTheDeepestNestingAccepted) {
  const std::size_t depth = kMaxJsonDepth - 1;
  const std::string nested =
      std::string(depth, '[') + "1.5" + std::string(depth, ']');
  json::monotonic_resource memory;
  std::optional<json::object> previous =
      parseJsonObject(R"({"startedAt":)" + nested + "}", &memory);
  ASSERT_TRUE(previous);
  StatusFacts facts = factsFor("Cursor", AgentState::working, "Running");
  const json::object record =
      buildStatusRecord(facts, std::move(previous), FakeClock(), &memory);
  std::optional<std::string> text = writeCompactJson(record);
  ASSERT_TRUE(text);
  EXPECT_NE(
      text->find(std::string(depth, '[') + "1.5" + std::string(depth, ']')),
      std::string::npos);
}

}  // namespace
}  // namespace vesk
