#include "json_format.h"

#include <gtest/gtest.h>
#include <boost/json/parse.hpp>

namespace vesk {
namespace {

TEST(FormatJsonTest, WritesTwoSpaceIndentedJsonThatReadsBackTheSame) {
  struct Case {
    const char* input;
    const char* expected;
  } cases[] = {
      {R"({})", "{}\n"},
      {R"([])", "[]\n"},
      {R"({"a":{},"b":[],"c":[{}]})",
       "{\n  \"a\": {},\n  \"b\": [],\n  \"c\": [\n    {}\n  ]\n}\n"},
      {R"({"z":1,"a":2})", "{\n  \"z\": 1,\n  \"a\": 2\n}\n"},
      {R"({"q\"k\\\u0001":0})", "{\n  \"q\\\"k\\\\\\u0001\": 0\n}\n"},
      {R"([true,false,null,"x"])",
       "[\n  true,\n  false,\n  null,\n  \"x\"\n]\n"},
      {R"(["tab\there","quote\"","back\\slash","\u0001","é ✓"])",
       "[\n  \"tab\\there\",\n  \"quote\\\"\",\n  \"back\\\\slash\",\n"
       "  \"\\u0001\",\n  \"é ✓\"\n]\n"},
      {R"([1.5,-0.25,1e300,18446744073709551615,-9223372036854775808])",
       "[\n  1.5,\n  -0.25,\n  1e+300,\n  18446744073709551615,\n"
       "  -9223372036854775808\n]\n"},
      {R"([0.001,0.0001,1e22,123.456])",
       "[\n  0.001,\n  1e-04,\n  1e+22,\n  123.456\n]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    boost::json::value value = boost::json::parse(c.input);
    std::string text = formatJson(value);
    EXPECT_EQ(text, c.expected);
    EXPECT_EQ(boost::json::parse(text), value);
  }
}

}  // namespace
}  // namespace vesk
