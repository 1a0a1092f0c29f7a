// The string scan of Boost.JSON's streaming parser, replaced for one
// handler by one that keeps its pace through escapes and non-ASCII text and
// decodes only the strings the handler keeps.
//
// Boost.JSON 1.81 searches a string sixteen bytes at a time only until the
// first escape or, with UTF-8 checked, the first non-ASCII byte; from there
// it walks the rest of the string one byte at a time, and it copies the
// decoded text of every string out to the handler. An agent's tool output
// is often a megabyte of text with an escape on every line, so that walk was
// most of a hook run. The scan here goes back to the wide search after every
// escape and every run of UTF-8 sequences, checks UTF-8 by Boost's own rules
// (those of detail::classify_utf8 and detail::is_valid_utf8: a lone
// sequence on its own, a run of them sixteen bytes at a time where the
// processor allows) and only checks, without decoding, a string its handler
// does not keep.
//
// Contract: VESK_JSON_FAST_STRINGS(Handler), written once at global scope
// before the first use of basic_parser<Handler>, replaces that parser's scan
// of a new string. For a whole text given in one write_some() with
// more == false and invalid UTF-8 refused, the parser then accepts and
// rejects exactly the texts the stock parser does (the error code may
// differ) and hands the handler the same text for every string it keeps; a
// string it does not keep arrives as one empty on_string() or on_key(). In
// any other use (more input to come, invalid UTF-8 allowed, a resumed
// parse) the stock code runs. The handler provides `bool keepsText(bool
// isKey)`, asked at the opening quote, and takes strings of any length.
// Only Boost 1.81's parser is touched: with any other Boost the macro
// expands to nothing and the stock parser runs unchanged.
//
// The functions here are pure; they, and StopByteFinder objects, may
// run on any thread.

#ifndef VESK_AGENT_BRIDGE_JSON_STRING_SCAN_H_
#define VESK_AGENT_BRIDGE_JSON_STRING_SCAN_H_

#include <bit>
#include <boost/json/basic_parser_impl.hpp>
#include <boost/version.hpp>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
// SSSE3 code is compiled for x86 and chosen when the processor has it.
#define VESK_JSON_SCAN_HAS_SSSE3_CHECK 1
#include <tmmintrin.h>
#if !defined(__SSSE3__)
#include <cpuid.h>
#endif
#endif
#if BOOST_VERSION == 108100
#include <boost/json/detail/buffer.hpp>
#include <boost/json/detail/utf8.hpp>
#endif

namespace vesk::json_scan {

// True for a stop byte, one that ends a plain run inside a JSON string:
// the quote, the backslash, a control character, or the start of a UTF-8
// sequence.
inline bool endsPlainRun(unsigned char c) {
  return c == '"' || c == '\\' || c < 0x20 || c >= 0x80;
}

// The stop bytes among the eight at p, as bit 7 of each byte of the
// result in memory order; exact for every byte, as no sum carries from one
// byte into the next.
inline std::uint64_t stopBytesOfWord(const char* p) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kLow7 = 0x7f * kOnes;
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big)
    word = __builtin_bswap64(word);
  const std::uint64_t ascii = word & kLow7;
  // The top bit of each sum is clear exactly where the byte is below 0x20,
  // or is the quote or the backslash.
  const std::uint64_t control = ~(ascii + 0x60 * kOnes);
  const std::uint64_t quote = ~((ascii ^ ('"' * kOnes)) + kLow7);
  const std::uint64_t backslash = ~((ascii ^ ('\\' * kOnes)) + kLow7);
  return (word | control | quote | backslash) & (0x80 * kOnes);
}

// The first stop byte in [p, end), or `end`, eight bytes at a time.
inline const char* findStopBytePortable(const char* p, const char* end) {
  for (; end - p >= 8; p += 8) {
    if (const std::uint64_t stops = stopBytesOfWord(p))
      return p + std::countr_zero(stops) / 8;
  }
  while (p != end && !endsPlainRun(static_cast<unsigned char>(*p))) ++p;
  return p;
}

// The stop bytes among the 64 at p, bit i for byte p[i].
inline std::uint64_t stopMaskPortable(const char* p) {
  std::uint64_t mask = 0;
  for (int i = 0; i < 8; ++i) {
    // Gathers bit 7 of each byte into one byte, the first byte lowest.
    const std::uint64_t packed =
        ((stopBytesOfWord(p + 8 * i) >> 7) * 0x0102040810204080) >> 56;
    mask |= packed << (8 * i);
  }
  return mask;
}

#if defined(__SSE2__)
inline std::uint64_t stopMaskSse2(const char* p) {
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i space = _mm_set1_epi8(0x20);
  std::uint64_t mask = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128i v =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    // Signed, a byte of 0x80 or above is below the space, like a control.
    const __m128i stops = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
        _mm_cmplt_epi8(v, space));
    mask |= static_cast<std::uint64_t>(
                static_cast<std::uint16_t>(_mm_movemask_epi8(stops)))
            << (16 * i);
  }
  return mask;
}
#endif

inline std::uint64_t stopMask(const char* p) {
#if defined(__SSE2__)
  return stopMaskSse2(p);
#else
  return stopMaskPortable(p);
#endif
}

// Finds the stop bytes of one string in order. The mask of the last
// 64-byte block is kept, so that text dense with escapes or non-ASCII
// characters costs a few instructions per stop byte, not a new search.
template <std::uint64_t (*Mask)(const char*) = stopMask>
class StopByteFinder {
 public:
  explicit StopByteFinder(const char* end) : end_(end) {}

  // The first stop byte in [p, end), or `end`; p is never before the
  // last result.
  const char* next(const char* p) {
    if (block_ != nullptr && p - block_ < 64) {
      if (const std::uint64_t rest = mask_ >> (p - block_))
        return p + std::countr_zero(rest);
      p = block_ + 64;
    }
    for (; end_ - p >= 64; p += 64) {
      block_ = p;
      mask_ = Mask(p);
      if (mask_ != 0) return p + std::countr_zero(mask_);
    }
    return findStopBytePortable(p, end_);
  }

 private:
  const char* end_;
  const char* block_ = nullptr;  // the last block searched, if any
  std::uint64_t mask_ = 0;
};

#if BOOST_VERSION == 108100
// What follows uses Boost.JSON 1.81's internals, and only that version's.

// The value of four hexadecimal digits at p, or -1.
inline long hexQuad(const char* p) {
  long value = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit =
        boost::json::detail::hex_digit(static_cast<unsigned char>(p[i]));
    if (digit < 0) return -1;
    value = value << 4 | digit;
  }
  return value;
}

// Decodes the escape at p (a backslash) into `out`. Yields the byte after
// it, or null when it is malformed or cut off by `end`: an unknown escape,
// a missing hex digit, a lone or reversed surrogate.
inline const char* decodeEscape(const char* p, const char* end,
                                boost::json::detail::buffer<4>& out) {
  if (end - p < 2) return nullptr;
  // clang-format off
  switch (p[1]) {
    case '"':  out.push_back('"');  return p + 2;
    case '\\': out.push_back('\\'); return p + 2;
    case '/':  out.push_back('/');  return p + 2;
    case 'b':  out.push_back('\b'); return p + 2;
    case 'f':  out.push_back('\f'); return p + 2;
    case 'n':  out.push_back('\n'); return p + 2;
    case 'r':  out.push_back('\r'); return p + 2;
    case 't':  out.push_back('\t'); return p + 2;
    case 'u':  break;
    default:   return nullptr;
  }
  // clang-format on
  if (end - p < 6) return nullptr;
  const long high = hexQuad(p + 2);
  if (high < 0 || (high >= 0xdc00 && high <= 0xdfff)) return nullptr;
  if (high < 0xd800 || high > 0xdfff) {
    out.append_utf8(static_cast<unsigned long>(high));
    return p + 6;
  }
  if (end - p < 12 || p[6] != '\\' || p[7] != 'u') return nullptr;
  const long low = hexQuad(p + 8);
  if (low < 0xdc00 || low > 0xdfff) return nullptr;
  out.append_utf8(0x10000 +
                  ((static_cast<unsigned long>(high) - 0xd800) << 10) +
                  (static_cast<unsigned long>(low) - 0xdc00));
  return p + 12;
}

// True for a UTF-8 continuation byte, 0x80 to 0xBF.
inline bool isContinuation(char c) {
  return (static_cast<unsigned char>(c) & 0xc0) == 0x80;
}

// The four bytes at p, the first lowest.
inline std::uint32_t loadLittleEndian32(const char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big)
    v = __builtin_bswap32(v);
  return v;
}

// The end of the run of valid UTF-8 sequences at p: the first byte that is
// ASCII, or that starts a sequence that is ill-formed or cut off by `end`.
// A sequence passes exactly when detail::classify_utf8 and
// detail::is_valid_utf8 pass it: leads C2 to F4, continuation bytes 80 to
// BF, and no overlong form (E0 then below A0, F0 then below 90), surrogate
// (ED then above 9F) or code point above U+10FFFF (F4 then above 8F).
// This one takes a sequence at a time.
inline const char* skipValidUtf8Portable(const char* p, const char* end) {
  // While four bytes remain, one load gives the lead and what follows it.
  while (end - p >= 4) {
    const std::uint32_t v = loadLittleEndian32(p);
    const std::uint32_t lead = v & 0xff;
    const std::uint32_t second = v >> 8 & 0xff;
    if (lead < 0xc2) return p;  // ASCII, a continuation byte, C0 or C1
    if (lead < 0xe0) {
      if ((v & 0xc000) != 0x8000) return p;
      p += 2;
    } else if ((v & 0xc0c0f0) == 0x8080e0) {  // E0 to EF, two continuations
      if ((lead == 0xe0 && second < 0xa0) || (lead == 0xed && second > 0x9f))
        return p;
      p += 3;
    } else if ((v & 0xc0c0c0f8) == 0x808080f0) {  // F0 to F7, three more
      if (lead > 0xf4 || (lead == 0xf0 && second < 0x90) ||
          (lead == 0xf4 && second > 0x8f))
        return p;
      p += 4;
    } else {
      return p;
    }
  }
  // The last three bytes or fewer, one at a time and never past `end`.
  while (p != end) {
    const auto lead = static_cast<unsigned char>(p[0]);
    const std::ptrdiff_t left = end - p;
    if (lead < 0xc2 || lead > 0xef) break;  // four bytes no longer fit
    if (lead < 0xe0) {
      if (left < 2 || !isContinuation(p[1])) break;
      p += 2;
      continue;
    }
    if (left < 3 || !isContinuation(p[1]) || !isContinuation(p[2])) break;
    const auto second = static_cast<unsigned char>(p[1]);
    if ((lead == 0xe0 && second < 0xa0) || (lead == 0xed && second > 0x9f))
      break;
    p += 3;
  }
  return p;
}

#if defined(VESK_JSON_SCAN_HAS_SSSE3_CHECK)
// The same run end, found sixteen bytes at a time with the lookup tables of
// Keiser and Lemire, "Validating UTF-8 In Less Than One Instruction Per
// Byte" (2021): three table lookups, on the high and low half of a byte and
// the high half of the byte after it, classify every pair of neighbours,
// and the bytes two and three back say where a third or fourth byte must
// follow. The tables encode the rules above. A block with a fault
// before the run's end hands the whole run to skipValidUtf8Portable(),
// which says exactly where it ends; so do the last bytes before `end`.
// Needs SSSE3; the byte before `start` must be ASCII or end a sequence.
__attribute__((target("ssse3"))) inline const char* skipValidUtf8Ssse3(
    const char* const start, const char* end) {
  // One bit per kind of fault that a pair of neighbouring bytes can show.
  constexpr char kTooShort = 1 << 0;   // a lead, then no continuation
  constexpr char kTooLong = 1 << 1;    // ASCII, then a continuation
  constexpr char kOverlong3 = 1 << 2;  // E0, then 80 to 9F
  constexpr char kTooLarge = 1 << 3;   // F4 and up, then 90 to BF
  constexpr char kSurrogate = 1 << 4;  // ED, then A0 to BF
  constexpr char kOverlong2 = 1 << 5;  // C0 or C1, then a continuation
  constexpr char kTooLarge1000 = 1 << 6;  // F5 and up, then 80 to 8F
  constexpr char kOverlong4 = 1 << 6;     // F0, then 80 to 8F
  constexpr char kTwoConts = static_cast<char>(1 << 7);  // two continuations
  constexpr char kCarry = kTooShort | kTooLong | kTwoConts;
  // By the high half of the first byte of the pair.
  const __m128i firstHigh = _mm_setr_epi8(
      kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
      kTooLong, kTwoConts, kTwoConts, kTwoConts, kTwoConts,
      kTooShort | kOverlong2, kTooShort,
      kTooShort | kOverlong3 | kSurrogate,
      kTooShort | kTooLarge | kTooLarge1000 | kOverlong4);
  // By the low half of the first byte.
  constexpr char kLarge = kCarry | kTooLarge | kTooLarge1000;
  const __m128i firstLow = _mm_setr_epi8(
      kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2,
      kCarry, kCarry, kCarry | kTooLarge, kLarge, kLarge, kLarge, kLarge,
      kLarge, kLarge, kLarge, kLarge, kLarge | kSurrogate, kLarge, kLarge);
  // By the high half of the second byte.
  constexpr char kContinuation = kTooLong | kOverlong2 | kTwoConts;
  const __m128i secondHigh = _mm_setr_epi8(
      kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
      kTooShort, kTooShort,
      kContinuation | kOverlong3 | kTooLarge1000 | kOverlong4,
      kContinuation | kOverlong3 | kTooLarge,
      kContinuation | kSurrogate | kTooLarge,
      kContinuation | kSurrogate | kTooLarge, kTooShort, kTooShort, kTooShort,
      kTooShort);
  const __m128i lowHalf = _mm_set1_epi8(0x0f);
  const auto highHalf = [&](__m128i v) {
    return _mm_and_si128(_mm_srli_epi16(v, 4), lowHalf);
  };
  const char* p = start;
  __m128i previous = _mm_setzero_si128();  // ASCII before the run
  for (; end - p >= 16; p += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i before1 = _mm_alignr_epi8(block, previous, 15);
    const __m128i pairs = _mm_and_si128(
        _mm_and_si128(_mm_shuffle_epi8(firstHigh, highHalf(before1)),
                      _mm_shuffle_epi8(firstLow,
                                       _mm_and_si128(before1, lowHalf))),
        _mm_shuffle_epi8(secondHigh, highHalf(block)));
    // Bit 7 where the byte two back leads three bytes or more, or the byte
    // three back leads four: there, and only there, two continuations
    // follow one another.
    const __m128i before2 = _mm_alignr_epi8(block, previous, 14);
    const __m128i before3 = _mm_alignr_epi8(block, previous, 13);
    const __m128i mustContinue = _mm_and_si128(
        _mm_or_si128(_mm_subs_epu8(before2, _mm_set1_epi8(0xe0 - 0x80)),
                     _mm_subs_epu8(before3, _mm_set1_epi8(0xf0 - 0x80))),
        _mm_set1_epi8(static_cast<char>(0x80)));
    const unsigned faults =
        ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(
            _mm_xor_si128(mustContinue, pairs), _mm_setzero_si128()))) &
        0xffff;
    const unsigned ascii =
        ~static_cast<unsigned>(_mm_movemask_epi8(block)) & 0xffff;
    if (ascii != 0) {
      // The run ends at the first ASCII byte, which also shows a sequence
      // it cuts off.
      const int at = std::countr_zero(ascii);
      if ((faults & ((2u << at) - 1)) != 0)
        return skipValidUtf8Portable(start, end);
      return p + at;
    }
    if (faults != 0) return skipValidUtf8Portable(start, end);
    previous = block;
  }
  // Fewer than sixteen bytes left: on one at a time from the lead of the
  // last sequence begun, which the last block may have cut short.
  if (p != start) {
    do --p;
    while (p != start && isContinuation(*p));
  }
  return skipValidUtf8Portable(p, end);
}

inline bool hasSsse3() {
#if defined(__SSSE3__)
  return true;
#else
  // Asked once, by the first run that needs it: a start-up check would
  // cost every hook run several trips to the hypervisor in a virtual
  // machine.
  static const bool has = [] {
    unsigned eax, ebx, ecx, edx;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_SSSE3) != 0;
  }();
  return has;
#endif
}
#endif

// The end of the run of valid UTF-8 sequences at p, as
// skipValidUtf8Portable() finds it.
inline const char* skipValidUtf8(const char* p, const char* end) {
#if defined(VESK_JSON_SCAN_HAS_SSSE3_CHECK)
  // A lone letter among ASCII, as in most Latin text, costs less on its
  // own; a run of them, as in Chinese text, sixteen bytes at a time. The
  // fourth byte tells them apart: after a lone two- or three-byte letter
  // and the ASCII that follows it, it is seldom anything but ASCII.
  if (end - p >= 32 && static_cast<unsigned char>(p[3]) >= 0x80 &&
      hasSsse3())
    return skipValidUtf8Ssse3(p, end);
#endif
  return skipValidUtf8Portable(p, end);
}

enum class ScanStatus { ok, malformed, refused };

struct ScanResult {
  ScanStatus status;
  const char* at;  // after the closing quote when ok, else where it failed
};

// Scans the string whose text starts at p (just after its opening quote).
// When `decode` is set, hands the decoded text on in order as
// `emit(piece, false)` for every piece but the last and `emit(last, true)`
// at the closing quote (the only call, with an empty piece, when `decode`
// is not set). `emit` yields false to stop the scan as refused.
template <class Emit>
ScanResult scanJsonString(const char* p, const char* end, bool decode,
                          Emit&& emit) {
  namespace detail = boost::json::detail;
  StopByteFinder<> stops(end);
  const char* run = p;  // start of the raw text not yet handed on
  for (;;) {
    p = stops.next(p);
    if (p == end) return {ScanStatus::malformed, p};
    const auto c = static_cast<unsigned char>(*p);
    if (c == '"') {
      const std::string_view last =
          decode ? std::string_view(run, static_cast<std::size_t>(p - run))
                 : std::string_view();
      if (!emit(last, true)) return {ScanStatus::refused, p};
      return {ScanStatus::ok, p + 1};
    }
    if (c == '\\') {
      detail::buffer<4> decoded;
      const char* next = decodeEscape(p, end, decoded);
      if (next == nullptr) return {ScanStatus::malformed, p};
      if (decode) {
        if (p != run &&
            !emit(std::string_view(run, static_cast<std::size_t>(p - run)),
                  false))
          return {ScanStatus::refused, p};
        if (!emit(std::string_view(decoded.data(), decoded.size()), false))
          return {ScanStatus::refused, p};
      }
      p = run = next;
      continue;
    }
    if (c < 0x80) return {ScanStatus::malformed, p};  // a control character
    // UTF-8 sequences, as many as follow one another: the valid run in one
    // tight loop, and whatever stops it judged by Boost's own functions.
    p = skipValidUtf8(p, end);
    while (p != end && static_cast<unsigned char>(*p) >= 0x80) {
      const std::uint16_t first = detail::classify_utf8(*p);
      const std::ptrdiff_t length = first & 0xff;
      if (end - p < length || !detail::is_valid_utf8(p, first))
        return {ScanStatus::malformed, p};
      p = skipValidUtf8(p + length, end);
    }
  }
}

#endif  // BOOST_VERSION == 108100

}  // namespace vesk::json_scan

#if BOOST_VERSION == 108100
// One replaced scan: a new string value (IsKey false) or key (IsKey true).
// Boost calls this member with the stack known to be empty, so its stock
// twin with an unknown stack (false_type) behaves as it would have.
#define VESK_JSON_FAST_STRING_SCAN(Handler, IsKey)                          \
  template <>                                                               \
  template <>                                                               \
  inline const char* boost::json::basic_parser<Handler>::parse_unescaped(   \
      const char* p, std::true_type, std::integral_constant<bool, IsKey>,   \
      bool allow_bad_utf8) {                                                \
    static_assert(Handler::max_string_size == std::size_t(-1) &&            \
                  Handler::max_key_size == std::size_t(-1));                \
    if (more_ || allow_bad_utf8)                                            \
      return parse_unescaped(p, std::false_type(),                          \
                             std::integral_constant<bool, IsKey>(),         \
                             allow_bad_utf8);                               \
    std::size_t total = 0;                                                  \
    auto emit = [&](std::string_view piece, bool last) {                    \
      total += piece.size();                                                \
      const string_view text(piece.data(), piece.size());                   \
      if (IsKey)                                                            \
        return last ? h_.on_key(text, total, ec_)                           \
                    : h_.on_key_part(text, total, ec_);                     \
      return last ? h_.on_string(text, total, ec_)                          \
                  : h_.on_string_part(text, total, ec_);                    \
    };                                                                      \
    const ::vesk::json_scan::ScanResult scan =                              \
        ::vesk::json_scan::scanJsonString(p + 1, end_, h_.keepsText(IsKey), \
                                          emit);                            \
    if (scan.status == ::vesk::json_scan::ScanStatus::malformed) {          \
      BOOST_STATIC_CONSTEXPR source_location loc = BOOST_CURRENT_LOCATION;  \
      return fail(scan.at, error::syntax, &loc);                            \
    }                                                                       \
    if (scan.status == ::vesk::json_scan::ScanStatus::refused)              \
      return fail(scan.at);                                                 \
    return scan.at;                                                         \
  }

#define VESK_JSON_FAST_STRINGS(Handler)      \
  VESK_JSON_FAST_STRING_SCAN(Handler, false) \
  VESK_JSON_FAST_STRING_SCAN(Handler, true)
#else
#define VESK_JSON_FAST_STRINGS(Handler)
#endif

#endif  // VESK_AGENT_BRIDGE_JSON_STRING_SCAN_H_
