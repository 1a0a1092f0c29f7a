#include "status_record.h"

#include <gtest/gtest.h>

#include <boost/json/value.hpp>
#include <limits>

#include "json_text.h"

namespace vesk {
namespace {
namespace json = boost::json;

TEST(BuildStatusRecord, ChoosesStartedAtAndWritesCompactly) {
  struct Case {
    const char* previous;  // nullptr: no previous record
    bool promptSubmit;
    const char* startedAt;
  };
  const Case cases[] = {
      {nullptr, false, "201.0"},
      {R"({"startedAt":5.25,"x":1})", false, "5.25"},
      {R"({"startedAt":null})", false, "null"},
      {R"({"startedAt":[{"a":[1,2e0]}]})", false, R"([{"a":[1,2.0]}])"},
      {R"({"agent":"Cursor"})", false, "201.0"},
      {R"({"startedAt":5.25})", true, "201.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.previous ? c.previous : "none");
    std::optional<json::object> previous;
    if (c.previous) previous = parseJsonObject(c.previous);
    double now = 0;  // reads 100.5, then 201.0
    StatusFacts facts;
    facts.agent = "Cursor";
    facts.sessionKey = "k";
    facts.state = AgentState::idle;
    facts.activity = "Running";
    facts.promptSubmit = c.promptSubmit;
    const json::object record = buildStatusRecord(facts, std::move(previous),
                                                  [&] { return now += 100.5; });
    EXPECT_EQ(writeCompactJson(record),
              std::string(R"({"agent":"Cursor","session":"k","state":"idle",)"
                          R"("timestamp":100.5,"startedAt":)") +
                  c.startedAt + R"(,"activity":"Running"})");
  }
  // Infinity has no JSON form, at any depth: nothing may be written.
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(writeCompactJson({{"t", json::array{1, {{"a", -inf}}}}}));
}

}  // namespace
}  // namespace vesk
