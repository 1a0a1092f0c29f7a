#include "status_record.h"

#include <gtest/gtest.h>

#include <boost/json/value.hpp>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

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

TEST(WriteCompactJson, WritesTheShortestDoubleThatReadsBack) {
  const struct {
    double number;
    const char* text;
  } cases[] = {
      {1733500000.123456, "1733500000.123456"},
      {1733500000, "1733500000.0"},   // plain wins a tie with 1.7335e+09
      {1e15, "1e+15"},                // the exponent form is shorter
      {123456, "123456.0"},
      {1e-3, "0.001"},                // a tie again: plain
      {1e-4, "1e-04"},
      {1e-5, "1e-05"},
      {0.000123, "0.000123"},
      {1.5e-7, "1.5e-07"},
      {-0.0, "-0.0"},
      {0.1 + 0.2, "0.30000000000000004"},
      {5e-324, "5e-324"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {-2.5, "-2.5"},
      {1152921504606846976.0, "1152921504606846976.0"},  // 2^60, exactly
  };
  for (const auto& c : cases) {
    EXPECT_EQ(writeCompactJson({{"n", c.number}}),
              std::string(R"({"n":)") + c.text + "}")
        << c.text;
  }
#if defined(__cpp_lib_to_chars)
  // Against the standard library's own shortest form, where it has one.
  std::mt19937_64 bits(20261207);
  for (int i = 0; i < 20000; ++i) {
    // Any bit pattern, or a 53-bit integer scaled to where both forms
    // compete (about 1e-11 to 1e25).
    const std::uint64_t word = bits();
    double number = std::ldexp(static_cast<double>(word >> 11),
                               static_cast<int>(word % 140) - 90);
    if (i % 2) std::memcpy(&number, &word, sizeof number);
    if (!std::isfinite(number)) continue;
    char buffer[64];
    std::string expected(buffer,
                         std::to_chars(buffer, buffer + 64, number).ptr);
    if (expected.find_first_of(".e") == std::string::npos) expected += ".0";
    ASSERT_EQ(writeCompactJson({{"n", number}}), R"({"n":)" + expected + "}");
  }
#endif
}

}  // namespace
}  // namespace vesk
