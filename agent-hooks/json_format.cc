#include "json_format.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include <boost/json/serialize.hpp>

namespace vesk {
namespace {

void appendValue(std::string& out, const boost::json::value& value, int depth);

void appendIndent(std::string& out, int depth) {
  out.append(static_cast<size_t>(depth) * 2, ' ');
}

void appendObject(std::string& out, const boost::json::object& object,
                  int depth) {
  if (object.empty()) {
    out.append("{}");
    return;
  }
  out.append("{\n");
  bool first = true;
  for (const auto& member : object) {
    if (!first) out.append(",\n");
    first = false;
    appendIndent(out, depth + 1);
    // Serialising the key as a JSON string escapes it like any value.
    out.append(boost::json::serialize(boost::json::string(member.key())));
    out.append(": ");
    appendValue(out, member.value(), depth + 1);
  }
  out.push_back('\n');
  appendIndent(out, depth);
  out.push_back('}');
}

void appendArray(std::string& out, const boost::json::array& array, int depth) {
  if (array.empty()) {
    out.append("[]");
    return;
  }
  out.append("[\n");
  bool first = true;
  for (const auto& element : array) {
    if (!first) out.append(",\n");
    first = false;
    appendIndent(out, depth + 1);
    appendValue(out, element, depth + 1);
  }
  out.push_back('\n');
  appendIndent(out, depth);
  out.push_back(']');
}

// The shortest decimal that reads back as the finite `number`, written as
// std::to_chars writes it: plain digits ("1733500000.123456", "0.001")
// unless the exponent form ("1e+22", "1.5e-07") is shorter. Boost.JSON finds
// the digits (Ryu) but always writes an exponent ("1.733500000123456E9");
// std::to_chars itself is missing from the libc++ of the oldest macOS the
// installer supports.
std::string shortestDecimal(double number) {
  const std::string ryu = boost::json::serialize(boost::json::value(number));
  std::string_view text = ryu;
  const bool negative = text.front() == '-';
  if (negative) text.remove_prefix(1);
  const std::size_t mark = text.find('E');
  std::string digits;
  for (char c : text.substr(0, mark)) {
    if (c != '.') digits += c;
  }
  int exponent = 0;
  std::from_chars(text.data() + mark + 1, text.data() + text.size(), exponent);
  // From d.ddd x 10^exponent to the integer ddd x 10^scale.
  int scale = exponent - static_cast<int>(digits.size() - 1);
  while (digits.size() > 1 && digits.back() == '0') {
    digits.pop_back();
    ++scale;
  }
  const int count = static_cast<int>(digits.size());
  std::string scientific = digits.substr(0, 1);
  if (count > 1) scientific += '.' + digits.substr(1);
  const int power = scale + count - 1;
  scientific += power < 0 ? "e-" : "e+";
  if (power > -10 && power < 10) scientific += '0';
  scientific += std::to_string(power < 0 ? -power : power);
  const int fixedSize = scale >= 0       ? count + scale
                        : -scale < count ? count + 1
                                         : 2 - scale;
  // A tie goes to the plain form, as in std::to_chars.
  std::string sign = negative ? "-" : "";
  if (static_cast<std::size_t>(fixedSize) > scientific.size()) {
    return sign + scientific;
  }
  if (scale >= 0) {
    // A whole number is written exactly, digit for digit (2^60 is
    // 1152921504606846976, not 1152921504606847000); the plain form is
    // chosen only below 10^23, well inside 128 bits.
    auto whole = static_cast<unsigned __int128>(std::fabs(number));
    std::string fixed;
    do {
      fixed.insert(fixed.begin(), static_cast<char>('0' + whole % 10));
      whole /= 10;
    } while (whole != 0);
    return sign + fixed;
  }
  if (-scale < count) {
    digits.insert(static_cast<std::size_t>(count + scale), 1, '.');
    return sign + digits;
  }
  return sign + "0." +
         std::string(static_cast<std::size_t>(-scale - count), '0') + digits;
}

// Settings files carry the shortest form that reads back the same.
void appendDouble(std::string& out, const boost::json::value& value) {
  double number = value.get_double();
  if (std::isfinite(number)) {
    out.append(shortestDecimal(number));
    return;
  }
  out.append(boost::json::serialize(value));
}

void appendValue(std::string& out, const boost::json::value& value, int depth) {
  switch (value.kind()) {
    case boost::json::kind::object:
      appendObject(out, value.get_object(), depth);
      return;
    case boost::json::kind::array:
      appendArray(out, value.get_array(), depth);
      return;
    case boost::json::kind::double_:
      appendDouble(out, value);
      return;
    default:
      out.append(boost::json::serialize(value));
      return;
  }
}

}  // namespace

std::string formatJson(const boost::json::value& value) {
  std::string out;
  appendValue(out, value, 0);
  out.push_back('\n');
  return out;
}

}  // namespace vesk
