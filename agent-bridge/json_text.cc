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

namespace {

// Agents nest tool input and output freely; a depth limit would turn a
// legitimate event into a silently ignored one, so only the input's size
// bounds the depth. The parser keeps its own stack, so depth costs heap,
// never call stack.
json::parse_options strictOptions() {
  json::parse_options options;
  options.max_depth = std::numeric_limits<std::size_t>::max();
  options.allow_comments = false;
  options.allow_trailing_commas = false;
  options.allow_invalid_utf8 = false;
  return options;
}

// Walks the value with an explicit stack: a carried-over value may be nested
// as deeply as its file allowed.
bool holdsNonFiniteNumber(const json::value& root) {
  std::vector<const json::value*> pending{&root};
  while (!pending.empty()) {
    const json::value* value = pending.back();
    pending.pop_back();
    switch (value->kind()) {
      case json::kind::double_:
        if (!std::isfinite(value->get_double())) return true;
        break;
      case json::kind::array:
        for (const json::value& element : value->get_array())
          pending.push_back(&element);
        break;
      case json::kind::object:
        for (const auto& entry : value->get_object())
          pending.push_back(&entry.value());
        break;
      default:
        break;
    }
  }
  return false;
}

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

}  // namespace

std::optional<json::object> parseJsonObject(std::string_view text,
                                            json::storage_ptr storage) {
  std::error_code ec;
  json::value value = json::parse(json::string_view(text.data(), text.size()),
                                  ec, std::move(storage), strictOptions());
  if (ec || !value.is_object()) return std::nullopt;
  return std::move(value.get_object());
}

std::optional<std::string> writeCompactJson(const json::object& object) {
  std::string out = "{";
  bool first = true;
  for (const auto& entry : object) {
    if (!first) out += ',';
    first = false;
    out += json::serialize(entry.key());
    out += ':';
    const json::value& value = entry.value();
    if (value.is_double()) {
      if (!appendDouble(out, value.get_double())) return std::nullopt;
    } else {
      if (holdsNonFiniteNumber(value)) return std::nullopt;
      out += json::serialize(value);
    }
  }
  out += '}';
  return out;
}

}  // namespace vesk
