// Where each value of a JSON text sits, so that a settings file can be
// edited in place: a change touches only the bytes of the entries it adds or
// removes, and every other byte (layout, escapes, number spellings,
// duplicate keys) stays as the user wrote it.
//
// scanJson first has Boost.JSON check the text as strict JSON (no comments,
// no trailing commas), then records the byte span of every value and member.
// Pure functions, safe on any thread.
#ifndef VESK_AGENT_HOOKS_JSON_LAYOUT_H_
#define VESK_AGENT_HOOKS_JSON_LAYOUT_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/value.hpp>

namespace vesk {

struct JsonNode {
  enum Kind { kObject, kArray, kScalar };
  Kind kind = kScalar;
  size_t begin = 0;  // the value's first byte
  size_t end = 0;    // one past its last byte
  // Where the member or element starts: a member's key's opening quote,
  // else `begin`. A member spans [start, end).
  size_t start = 0;
  std::string key;  // object members only, unescaped
  std::vector<JsonNode> children;  // members or elements, in text order

  // The last member named `name` (the one JSON readers keep), or null.
  const JsonNode* member(std::string_view name) const;
};

// The layout of `text`, or nullopt with `*error` saying what is wrong and
// where ("line 2, column 3: syntax error", or for "//" and "/*": "line 2,
// column 3: a comment, which JSON does not allow").
std::optional<JsonNode> scanJson(std::string_view text, std::string* error);

// The value of `node` in `text`, parsed by Boost.JSON; null when it cannot
// be (it was checked before, so only for nodes of another text).
boost::json::value nodeValue(std::string_view text, const JsonNode& node);

}  // namespace vesk

#endif  // VESK_AGENT_HOOKS_JSON_LAYOUT_H_
