#include "json_text.h"

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <vector>

namespace vesk {
namespace json = boost::json;

json::parse_options strictParseOptions() {
  json::parse_options options;
  options.max_depth = kMaxJsonDepth;
  options.allow_comments = false;
  options.allow_trailing_commas = false;
  options.allow_invalid_utf8 = false;
  return options;
}

namespace {

// The shortest decimal that reads back as the finite `number`, written as
// std::to_chars writes it: plain digits ("1733500000.123456", "0.001")
// unless the exponent form ("1e+22", "1.5e-07") is shorter. Boost.JSON finds
// the digits (Ryu) but always writes an exponent ("1.733500000123456E9");
// std::to_chars itself is missing from the libc++ of the oldest macOS the
// hook supports.
std::string shortestDecimal(double number) {
  const std::string ryu = json::serialize(json::value(number));
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

bool appendDouble(std::string& out, double number) {
  if (!std::isfinite(number)) return false;
  const std::string text = shortestDecimal(number);
  out += text;
  // "1733500000" would read back as an integer; keep the double's kind.
  if (text.find_first_of(".e") == std::string::npos) out += ".0";
  return true;
}

template <typename Integer>
void appendInteger(std::string& out, Integer number) {
  char buffer[24];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number);
  out.append(buffer, end);
}

}  // namespace

std::optional<json::object> parseJsonObject(std::string_view text,
                                            json::storage_ptr storage) {
  std::error_code ec;
  json::value value = json::parse(json::string_view(text.data(), text.size()),
                                  ec, std::move(storage), strictParseOptions());
  if (ec || !value.is_object()) return std::nullopt;
  return std::move(value.get_object());
}

std::optional<std::string> writeCompactJson(const json::object& object) {
  // Boost.JSON's own serializer takes time quadratic in the nesting depth,
  // and a carried-over value may be nested thousands of levels deep; this
  // writer keeps its own stack and stays linear.
  struct Open {
    const json::array* array;
    const json::object* object;
    std::size_t next;
  };
  std::vector<Open> open{{nullptr, &object, 0}};
  std::string out = "{";
  const json::value* value = nullptr;
  while (!open.empty()) {
    Open& top = open.back();
    const std::size_t size = top.array ? top.array->size() : top.object->size();
    if (top.next == size) {
      out += top.array ? ']' : '}';
      open.pop_back();
      continue;
    }
    if (top.next > 0) out += ',';
    if (top.array) {
      value = &(*top.array)[top.next++];
    } else {
      const json::key_value_pair& entry = *(top.object->begin() + top.next++);
      out += json::serialize(entry.key());
      out += ':';
      value = &entry.value();
    }
    switch (value->kind()) {
      case json::kind::null:
        out += "null";
        break;
      case json::kind::bool_:
        out += value->get_bool() ? "true" : "false";
        break;
      case json::kind::int64:
        appendInteger(out, value->get_int64());
        break;
      case json::kind::uint64:
        appendInteger(out, value->get_uint64());
        break;
      case json::kind::double_:
        if (!appendDouble(out, value->get_double())) return std::nullopt;
        break;
      case json::kind::string:
        out += json::serialize(value->get_string());
        break;
      case json::kind::array:
        out += '[';
        open.push_back({&value->get_array(), nullptr, 0});
        break;
      case json::kind::object:
        out += '{';
        open.push_back({nullptr, &value->get_object(), 0});
        break;
    }
  }
  return out;
}

}  // namespace vesk
