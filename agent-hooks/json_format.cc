#include "json_format.h"

#include <charconv>
#include <cmath>

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

// Boost.JSON writes doubles in exponent form ("1.5E0"); settings files
// carry the shortest form that reads back the same.
void appendDouble(std::string& out, const boost::json::value& value) {
  double number = value.get_double();
  if (std::isfinite(number)) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    if (result.ec == std::errc()) {
      out.append(buffer, result.ptr);
      return;
    }
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
