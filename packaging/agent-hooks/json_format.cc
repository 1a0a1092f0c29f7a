#include "json_format.h"

#include <charconv>
#include <cmath>

#include <boost/json/serialize.hpp>

namespace vesk {
namespace {

void AppendIndent(std::string& out, int depth) {
  out.append(static_cast<size_t>(depth) * 2, ' ');
}

void AppendValue(std::string& out, const boost::json::value& value, int depth) {
  switch (value.kind()) {
    case boost::json::kind::object: {
      const boost::json::object& object = value.get_object();
      if (object.empty()) {
        out.append("{}");
        return;
      }
      out.append("{\n");
      bool first = true;
      for (const auto& member : object) {
        if (!first) out.append(",\n");
        first = false;
        AppendIndent(out, depth + 1);
        out.append(boost::json::serialize(boost::json::string(member.key())));
        out.append(": ");
        AppendValue(out, member.value(), depth + 1);
      }
      out.push_back('\n');
      AppendIndent(out, depth);
      out.push_back('}');
      return;
    }
    case boost::json::kind::array: {
      const boost::json::array& array = value.get_array();
      if (array.empty()) {
        out.append("[]");
        return;
      }
      out.append("[\n");
      bool first = true;
      for (const auto& element : array) {
        if (!first) out.append(",\n");
        first = false;
        AppendIndent(out, depth + 1);
        AppendValue(out, element, depth + 1);
      }
      out.push_back('\n');
      AppendIndent(out, depth);
      out.push_back(']');
      return;
    }
    case boost::json::kind::double_: {
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
      return;
    }
    default:
      out.append(boost::json::serialize(value));
      return;
  }
}

}  // namespace

std::string FormatJson(const boost::json::value& value) {
  std::string out;
  AppendValue(out, value, 0);
  out.push_back('\n');
  return out;
}

}  // namespace vesk
