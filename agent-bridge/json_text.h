// Strict JSON reading and compact JSON writing for the event and the status
// file.
//
// Contract: parseJsonObject() accepts only one RFC 8259 text with valid UTF-8,
// no comments, no trailing commas and nothing but whitespace after it, whose
// top level is an object, nested at most kMaxJsonDepth levels; anything
// else yields nothing. The result's memory comes from `storage`;
// pass a non-shared monotonic resource so that a deeply nested document is
// released without recursion.
//
// writeCompactJson() yields the compact text of an object (keys in their
// stored order, no whitespace), or nothing when a number in it has no JSON
// form (an infinity or NaN at any depth). Doubles are written in the
// shortest form that reads back as the same double, without exponent where
// that is shortest (1733500000.123456); an integral one gets ".0" so that it
// reads back as a double, not an integer. Neither function throws on bad
// data; both may run on any thread.

#ifndef VESK_AGENT_BRIDGE_JSON_TEXT_H_
#define VESK_AGENT_BRIDGE_JSON_TEXT_H_

#include <boost/json/object.hpp>
#include <boost/json/parse_options.hpp>
#include <boost/json/storage_ptr.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace vesk {

// Agents nest tool input and output freely, far beyond the parser's default
// of 32 levels, but the parser recurses once per level on the call stack.
// Real events stay within a few dozen levels; this keeps the deepest
// accepted document well inside a default 8 MiB stack (a few hundred KiB in
// an optimised build). A deeper document counts as malformed.
inline constexpr std::size_t kMaxJsonDepth = 10000;

// Strict RFC 8259 with valid UTF-8 and the depth limit above.
boost::json::parse_options strictParseOptions();

std::optional<boost::json::object> parseJsonObject(
    std::string_view text, boost::json::storage_ptr storage = {});

std::optional<std::string> writeCompactJson(const boost::json::object& object);

}  // namespace vesk

#endif  // VESK_AGENT_BRIDGE_JSON_TEXT_H_
