// Writes a JSON value the way people and the agents write their settings
// files: two-space indentation, one member or element per line, keys in
// their stored order, "{}" and "[]" for empty containers, and a final
// newline. Keys and strings are escaped as JSON requires (quotes,
// backslashes, control characters); numbers keep their shortest round-trip
// spelling. A pure function, safe on any thread.
#ifndef VESK_AGENT_HOOKS_JSON_FORMAT_H_
#define VESK_AGENT_HOOKS_JSON_FORMAT_H_

#include <string>

#include <boost/json/value.hpp>

namespace vesk {

std::string formatJson(const boost::json::value& value);

}  // namespace vesk

#endif  // VESK_AGENT_HOOKS_JSON_FORMAT_H_
