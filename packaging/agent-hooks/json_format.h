// Writes a JSON value the way people and the agents write their settings
// files: two-space indentation, one member or element per line, keys in
// their stored order, "{}" and "[]" for empty containers, and a final
// newline. Numbers keep their shortest round-trip spelling.
#ifndef VESK_PACKAGING_AGENT_HOOKS_JSON_FORMAT_H_
#define VESK_PACKAGING_AGENT_HOOKS_JSON_FORMAT_H_

#include <string>

#include <boost/json/value.hpp>

namespace vesk {

std::string FormatJson(const boost::json::value& value);

}  // namespace vesk

#endif  // VESK_PACKAGING_AGENT_HOOKS_JSON_FORMAT_H_
