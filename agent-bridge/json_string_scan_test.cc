#include "json_string_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

namespace vesk::json_scan {
namespace {

TEST(SpecialByteSearch, EveryWayFindsExactlyTheSpecialBytes) {
  for (int value = 0; value < 256; ++value) {
    for (int at : {0, 7, 8, 33, 63}) {
      SCOPED_TRACE(testing::Message() << "byte " << value << " at " << at);
      std::string block(64, 'a');
      block[at] = static_cast<char>(value);
      const bool special = isStringSpecial(static_cast<unsigned char>(value));
      const std::uint64_t want = special ? std::uint64_t{1} << at : 0;
      EXPECT_EQ(specialMaskPortable(block.data()), want);
#if defined(__SSE2__)
      EXPECT_EQ(specialMaskSse2(block.data()), want);
#endif
      const char* end = block.data() + block.size();
      EXPECT_EQ(findStringSpecialPortable(block.data(), end),
                special ? block.data() + at : end);
    }
  }
}

template <std::uint64_t (*Mask)(const char*)>
void expectFinderVisitsEverySpecialByteInOrder() {
  const std::string alphabet = "aZ 9\"\\\x01\x1f\x7f\x80\xc3\xff";
  std::mt19937 random(18);
  for (int round = 0; round < 500; ++round) {
    // Mostly plain text, so that runs cross 8- and 64-byte blocks.
    std::string text(random() % 300, 'x');
    for (char& c : text) {
      if (random() % 6 == 0) c = alphabet[random() % alphabet.size()];
    }
    const char* end = text.data() + text.size();
    SpecialByteFinder<Mask> finder(end);
    for (const char* p = text.data();;) {
      const char* want = std::find_if(p, end, [](char c) {
        return isStringSpecial(static_cast<unsigned char>(c));
      });
      ASSERT_EQ(finder.next(p), want) << "round " << round;
      if (want == end) break;
      p = std::min(end, want + 1 + random() % 4);
    }
  }
}

TEST(SpecialByteSearch, FinderVisitsEverySpecialByteInOrder) {
  expectFinderVisitsEverySpecialByteInOrder<specialMaskPortable>();
#if defined(__SSE2__)
  expectFinderVisitsEverySpecialByteInOrder<specialMaskSse2>();
#endif
}

}  // namespace
}  // namespace vesk::json_scan
