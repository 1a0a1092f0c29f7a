// Where a session's status lies and how it is read and replaced.
//
// Contract: every operation here is silent and runs on the caller's thread.
// Failures of the file system never throw; they show only in the results
// documented below, which the hook itself ignores. Readers of the status
// file (the desktop application, or a concurrent run) only ever see a
// complete file, because the file is replaced by a rename.

#ifndef VESK_AGENT_BRIDGE_STATUS_FILE_H_
#define VESK_AGENT_BRIDGE_STATUS_FILE_H_

#include <boost/json/object.hpp>
#include <boost/json/storage_ptr.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "hook_input.h"

namespace vesk {

// "Library/Application Support/Vesk/agents" below `home`. Creates every
// missing folder on the way with mode 0700, then sets the status directory
// itself to 0700 whatever it was. Returns the path whether or not that
// worked; later reads and writes there then simply fail.
std::string makeStatusDirectory(std::string_view home);

// The session's file: the status directory, then the key and ".json".
std::string statusFilePath(std::string_view directory, std::string_view key);

// Above any record this program writes: the only value of a record that can
// be long is the project name, taken from the event and written with no
// more escaping than the event's own JSON needed, so it is shorter than the
// event (at most kHookInputLimitBytes); the other keys and values take a few
// hundred bytes. A larger file at the path is not one of its records, and
// reading it whole could exhaust memory.
inline constexpr std::size_t kLargestPreviousRecord =
    kHookInputLimitBytes + 65536;

// The status file's content when it is a regular file (a symbolic link is not
// followed) of at most kLargestPreviousRecord bytes that reads whole and
// parses as a JSON object;
// nothing otherwise, also when a larger file is there. The result lives in
// `storage`.
std::optional<boost::json::object> loadPreviousRecord(
    const std::string& path, boost::json::storage_ptr storage = {});

// Writes the record compactly to a new file of mode 0600 with an
// unpredictable name in the same folder, renames it over `path` (a symbolic
// link there is replaced, never followed) and sets 0600 on the result.
// When the record has no JSON form nothing is touched. When writing or
// renaming fails, the temporary file is removed, the earlier file stays
// whole, and 0600 is still set on it. Returns true when `path` was replaced.
bool writeStatusRecord(const boost::json::object& record,
                       const std::string& path);

}  // namespace vesk

#endif  // VESK_AGENT_BRIDGE_STATUS_FILE_H_
