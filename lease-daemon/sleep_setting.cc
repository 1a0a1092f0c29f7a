// Reading and writing the sleep-disabled setting: argument lists, the rules
// for the tool's exit status and output, and the parse of its
// "SleepDisabled" line. Running the tool is subprocess.h's.

#include "sleep_setting.h"

#include <charconv>
#include <string_view>
#include <vector>

#include "subprocess.h"
#include "utf8_validator.h"

namespace vesk {

namespace {

constexpr std::string_view kFieldName = "SleepDisabled";

// The length in bytes of the Unicode White_Space character that starts at
// `text[i]`, or 0 when none does. Works on bytes, so it is safe on text that
// is not UTF-8.
size_t whitespaceAt(std::string_view text, size_t i) {
  auto byte = [&](size_t k) {
    return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
  };
  unsigned char b0 = byte(0);
  if (b0 == ' ' || (b0 >= 0x09 && b0 <= 0x0D)) return 1;
  unsigned char b1 = byte(1);
  unsigned char b2 = byte(2);
  if (b0 == 0xC2 && (b1 == 0x85 || b1 == 0xA0)) return 2;  // U+0085, U+00A0
  if (b0 == 0xE1 && b1 == 0x9A && b2 == 0x80) return 3;    // U+1680
  if (b0 == 0xE2 && b1 == 0x80 &&
      (b2 <= 0x8A || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF) && b2 >= 0x80) {
    return 3;  // U+2000..U+200A, U+2028, U+2029, U+202F
  }
  if (b0 == 0xE2 && b1 == 0x81 && b2 == 0x9F) return 3;  // U+205F
  if (b0 == 0xE3 && b1 == 0x80 && b2 == 0x80) return 3;  // U+3000
  return 0;
}

std::vector<std::string_view> tokens(std::string_view line) {
  std::vector<std::string_view> result;
  size_t i = 0;
  size_t start = 0;
  while (i < line.size()) {
    size_t space = whitespaceAt(line, i);
    if (space == 0) {
      ++i;
      continue;
    }
    if (i > start) result.push_back(line.substr(start, i - start));
    i += space;
    start = i;
  }
  if (i > start) result.push_back(line.substr(start, i - start));
  return result;
}

// An optional sign, then one or more ASCII digits and nothing else, within
// the signed 64-bit range.
std::optional<int64_t> parseDecimal(std::string_view text) {
  // One sign at most: "+-0" is not a number.
  const bool plus = !text.empty() && text.front() == '+';
  if (plus) text.remove_prefix(1);
  std::string_view digits = text;
  if (!plus && !digits.empty() && digits.front() == '-') {
    digits.remove_prefix(1);
  }
  if (digits.empty() || digits.front() < '0' || digits.front() > '9') {
    return std::nullopt;
  }
  int64_t value = 0;
  auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// The outcome of looking for the first line whose first token is
// "SleepDisabled".
struct Scan {
  bool found = false;
  std::optional<int64_t> value;  // meaningful when found
};

Scan scanForSleepDisabled(std::string_view text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const size_t lineStart = start;
    std::vector<std::string_view> fields =
        tokens(text.substr(lineStart, end - lineStart));
    start = end + 1;
    if (fields.empty() || fields.front() != kFieldName) continue;
    Scan scan;
    scan.found = true;
    // The line read must be text; the rest of the output need not be (the
    // tool cuts a long list of process names byte-wise, which can split a
    // character).
    Utf8Validator utf8;
    utf8.feed(text.substr(lineStart, end - lineStart));
    if (!utf8.complete() || fields.size() != 2) return scan;
    std::optional<int64_t> value = parseDecimal(fields[1]);
    if (value == 0 || value == 1) scan.value = value;
    return scan;
  }
  return Scan();
}

}  // namespace

std::optional<int64_t> parseSleepDisabled(std::string_view output) {
  Scan scan = scanForSleepDisabled(output);
  // No line at all means sleep is not disabled.
  return scan.found ? scan.value : std::optional<int64_t>(0);
}

std::optional<int64_t> readSleepDisabledWith(const std::string& tool) {
  std::string kept;
  bool truncated = false;
  std::optional<int> status =
      runProcess(tool, {"-g"}, [&](std::string_view chunk) {
        size_t room = kMaxKeptToolOutput - kept.size();
        if (chunk.size() > room) truncated = true;
        kept.append(chunk.substr(0, room));
      });
  if (status != 0) return std::nullopt;
  if (!truncated) return parseSleepDisabled(kept);
  // Only complete lines are trustworthy. If none of them is the
  // "SleepDisabled" line, it may lie in what was not kept, so the value is
  // unknown rather than 0.
  size_t lastLineEnd = kept.rfind('\n');
  if (lastLineEnd == std::string::npos) return std::nullopt;
  Scan scan =
      scanForSleepDisabled(std::string_view(kept).substr(0, lastLineEnd + 1));
  return scan.found ? scan.value : std::nullopt;
}

bool setSleepDisabledWith(const std::string& tool, int64_t value) {
  std::optional<int> status =
      runProcess(tool, {"-a", "disablesleep", std::to_string(value)}, {});
  if (status != 0) return false;
  return readSleepDisabledWith(tool) == value;
}

std::optional<int64_t> readSleepDisabled() {
  return readSleepDisabledWith(kPowerManagementTool);
}

bool setSleepDisabled(int64_t value) {
  return setSleepDisabledWith(kPowerManagementTool, value);
}

}  // namespace vesk
