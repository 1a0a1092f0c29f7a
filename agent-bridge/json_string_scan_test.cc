#include "json_string_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace vesk::json_scan {
namespace {

TEST(StopByteSearch, EveryWayFindsExactlyTheStopBytes) {
  for (int value = 0; value < 256; ++value) {
    for (int at : {0, 7, 8, 33, 63}) {
      SCOPED_TRACE(testing::Message() << "byte " << value << " at " << at);
      std::string block(64, 'a');
      block[at] = static_cast<char>(value);
      const bool stops = endsPlainRun(static_cast<unsigned char>(value));
      const std::uint64_t want = stops ? std::uint64_t{1} << at : 0;
      EXPECT_EQ(stopMaskPortable(block.data()), want);
#if defined(__SSE2__)
      EXPECT_EQ(stopMaskSse2(block.data()), want);
#endif
      const char* end = block.data() + block.size();
      EXPECT_EQ(findStopBytePortable(block.data(), end),
                stops ? block.data() + at : end);
    }
  }
}

template <std::uint64_t (*Mask)(const char*)>
void expectFinderVisitsEveryStopByteInOrder() {
  const std::string alphabet = "aZ 9\"\\\x01\x1f\x7f\x80\xc3\xff";
  std::mt19937 random(18);
  for (int round = 0; round < 500; ++round) {
    // Mostly plain text, so that runs cross 8- and 64-byte blocks.
    std::string text(random() % 300, 'x');
    for (char& c : text) {
      if (random() % 6 == 0) c = alphabet[random() % alphabet.size()];
    }
    const char* end = text.data() + text.size();
    StopByteFinder<Mask> finder(end);
    for (const char* p = text.data();;) {
      const char* want = std::find_if(p, end, [](char c) {
        return endsPlainRun(static_cast<unsigned char>(c));
      });
      ASSERT_EQ(finder.next(p), want) << "round " << round;
      if (want == end) break;
      p = std::min(end, want + 1 + random() % 4);
    }
  }
}

TEST(StopByteSearch, FinderVisitsEveryStopByteInOrder) {
  expectFinderVisitsEveryStopByteInOrder<stopMaskPortable>();
#if defined(__SSE2__)
  expectFinderVisitsEveryStopByteInOrder<stopMaskSse2>();
#endif
}

#if BOOST_VERSION == 108100
// Where Boost's own per-sequence check stops in [p, end).
const char* stockUtf8RunEnd(const char* p, const char* end) {
  namespace detail = boost::json::detail;
  while (p != end && static_cast<unsigned char>(*p) >= 0x80) {
    const std::uint16_t first = detail::classify_utf8(*p);
    if (end - p < (first & 0xff) || !detail::is_valid_utf8(p, first)) break;
    p += first & 0xff;
  }
  return p;
}

// Every way of finding a run's end that this processor can run.
std::vector<const char* (*)(const char*, const char*)> runEnds() {
  std::vector<const char* (*)(const char*, const char*)> ways = {
      skipValidUtf8Portable, skipValidUtf8};
#if defined(VESK_JSON_SCAN_HAS_SSSE3_CHECK)
  if (hasSsse3()) ways.push_back(skipValidUtf8Ssse3);
#endif
  return ways;
}

// Cut off at each of the `cuts` bytes from `from`, and not at all.
void expectRunEndsWhereBoostsCheckStops(const std::string& text,
                                        std::size_t from,
                                        std::size_t cuts = 1000) {
  for (std::size_t cut = from; cut <= text.size(); ++cut) {
    if (cut == from + cuts) cut = text.size();
    const char* end = text.data() + cut;
    const char* want = stockUtf8RunEnd(text.data(), end);
    for (auto runEnd : runEnds()) {
      ASSERT_EQ(runEnd(text.data(), end) - text.data(), want - text.data())
          << ::testing::PrintToString(text.substr(0, cut));
    }
  }
}

TEST(Utf8Run, StopsExactlyWhereBoostsOwnCheckStops) {
  // Every lead byte and second byte, with the bytes after them inside and
  // outside the continuation range, whole or cut short by the end, after runs
  // of valid sequences of each length, so that they fall at every offset of the
  // four-byte loads and on both sides of a sixteen-byte block's edge.
  const std::string runs[] = {
      "",
      "\xc3\xa9",
      "\xe4\xb8\xad",
      "\xf0\x9f\x98\x80",
      "\xe4\xb8\xad\xe6\x96\x87\xe4\xb8\xad\xf0\x9f\x98\x80",
      "\xe4\xb8\xad\xe6\x96\x87\xed\x9f\xbf\xe0\xa0\x80\xef\xbf\xbf",
      "\xe4\xb8\xad\xe6\x96\x87\xed\x9f\xbf\xe0\xa0\x80\xef\xbf\xbf"
      "\xc2\x80\xdf\xbf\xf4\x8f\xbf\xbf\xf0\x90\x80\x80",
  };
  const unsigned char tails[] = {0x41, 0x80, 0xbf, 0xc0, 0xff};
  for (const std::string& run : runs) {
    for (int lead = 0x80; lead < 0x100; ++lead) {
      for (int second = 0; second < 0x100; ++second) {
        for (unsigned char third : tails) {
          for (unsigned char fourth : {0x41, 0x80, 0xc0}) {
            std::string text = run;
            text += {static_cast<char>(lead), static_cast<char>(second),
                     static_cast<char>(third), static_cast<char>(fourth)};
            text += "\xe4\xb8\xad\xc3\xa9z\xe6\x96\x87\xe6\x96\x87"
                    "\xe6\x96\x87\xe6\x96\x87";
            expectRunEndsWhereBoostsCheckStops(text, run.size() + 1, 6);
          }
        }
      }
    }
  }
}

TEST(Utf8Run, StopsExactlyWhereBoostsOwnCheckStopsAfterLongRuns) {
  // Sequences whole and ill-formed after runs of valid ones of every length
  // up to three blocks, then ASCII and more sequences, cut off at every
  // byte.
  // clang-format off
  const std::string sequences[] = {
      "\xc3\xa9", "\xe4\xb8\xad", "\xf0\x9f\x98\x80", "\xed\x9f\xbf",
      "\xf4\x8f\xbf\xbf", "\xc3", "\xc3(", "\x80", "\xc1\xbf",
      "\xe0\x9f\xbf", "\xed\xa0\x80", "\xe2\x82", "\xe2\x82(",
      "\xf0\x8f\xbf\xbf", "\xf4\x90\x80\x80", "\xf5\x80\x80\x80",
      "\xf0\x9f\x9a", "\xf0\x9f\x9a(", "\xff",
  };
  // clang-format on
  const std::string units[] = {"\xc3\xa9", "\xe4\xb8\xad",
                               "\xf0\x9f\x98\x80"};
  for (const std::string& unit : units) {
    for (const std::string& sequence : sequences) {
      std::string run;
      while (run.size() < 48) {
        expectRunEndsWhereBoostsCheckStops(run + sequence + "q" + unit + unit,
                                           1);
        run += unit;
      }
    }
  }
}
#endif

}  // namespace
}  // namespace vesk::json_scan
