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

bool appendDouble(std::string& out, double number) {
  if (!std::isfinite(number)) return false;
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number);
  if (ec != std::errc()) return false;
  std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
  out += text;
  // "1733500000" would read back as an integer; keep the double's kind.
  if (text.find_first_of(".e") == std::string_view::npos) out += ".0";
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
