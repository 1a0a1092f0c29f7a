#include "utf8_validator.h"

#include <gtest/gtest.h>

#include <string>

namespace vesk {
namespace {

struct Utf8Case {
  const char* name;
  std::string bytes;
  bool wellFormed;
};

const Utf8Case kCases[] = {
    {"Empty", "", true},
    {"Ascii", "SleepDisabled 1\n", true},
    {"TwoByte", "\xC2\xA0", true},
    {"ThreeByte", "\xE2\x80\xAF", true},
    {"FourByte", "\xF0\x9F\x98\x80", true},
    {"LargestScalar", "\xF4\x8F\xBF\xBF", true},
    {"NulIsText", std::string("a\0b", 3), true},
    {"LoneContinuation", "\x80", false},
    {"OverlongSlash", "\xC0\xAF", false},
    {"OverlongThreeByte", "\xE0\x80\xAF", false},
    {"OverlongFourByte", "\xF0\x80\x80\xAF", false},
    {"Surrogate", "\xED\xA0\x80", false},
    {"AboveUnicode", "\xF4\x90\x80\x80", false},
    {"InvalidLead", "\xFF", false},
    {"TruncatedAtEnd", "ok\xE2\x80", false},
    {"LeadThenAscii",
     "\xC3"
     "A",
     false},
};

class Utf8ValidatorTest : public ::testing::TestWithParam<Utf8Case> {};

// The verdict is the same however the stream is cut into pieces.
TEST_P(Utf8ValidatorTest, JudgesEverySplitAlike) {
  const Utf8Case& c = GetParam();
  for (size_t cut = 0; cut <= c.bytes.size(); ++cut) {
    Utf8Validator v;
    v.feed(std::string_view(c.bytes).substr(0, cut));
    v.feed(std::string_view(c.bytes).substr(cut));
    EXPECT_EQ(v.complete(), c.wellFormed) << "cut at " << cut;
  }
}

INSTANTIATE_TEST_SUITE_P(Streams, Utf8ValidatorTest,
                         ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Utf8Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace vesk
