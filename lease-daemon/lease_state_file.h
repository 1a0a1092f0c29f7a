// The lease state file: the captured sleep-disabled value that a restore
// owes, kept on disk so that a daemon that stopped while holding the setting
// puts it back at its next start.
//
// The file is a property list whose root dictionary holds the single integer
// entry "SleepDisabled". It is written as a binary property list (version
// 1.0); binary and XML forms are read. Replacement is atomic: a temporary
// file (mode 0600) in the same directory is written, flushed to disk and
// renamed over the path, and the directory is flushed after the rename, so
// a reader never sees a partial file and a saved value survives a power
// loss, not only a crash.
//
// The functions keep no state and report failure only through their result;
// the controller calls them on its queue only. Every descriptor they open is
// close-on-exec, so no child process of the daemon inherits one.

#ifndef VESK_LEASE_DAEMON_LEASE_STATE_FILE_H_
#define VESK_LEASE_DAEMON_LEASE_STATE_FILE_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vesk {

// {"SleepDisabled": value} as a binary property list, version 1.0. Absent
// only if the property-list library fails.
std::optional<std::string> encodeLeaseState(int64_t value);

// The "SleepDisabled" entry of a property list in binary or XML form. Absent
// when the bytes are not a property list, its root is not a dictionary whose
// every value is an integer, or the entry is missing. Safe on any bytes.
std::optional<int64_t> decodeLeaseState(std::string_view bytes);

// The points at which a state-file step can fail. Tests use them to make a
// step fail exactly where the file system could.
enum class StateFileStep { kWrite, kSetPermissions, kRemove };

// Returns true to make that step fail. Empty in the daemon.
using StateFileFault = std::function<bool(StateFileStep)>;

// Writes {"SleepDisabled": value} atomically to `path`, then sets the file's
// permissions to 0600. False when serialising or writing fails (any earlier
// file at `path` is left as it was), and when the rename cannot be made
// durable or setting the permissions fails (the new file stays): a value
// that might not survive a power loss is not one to change the setting on.
bool saveLeaseState(const std::string& path, int64_t value,
                    const StateFileFault& fault = {});

// Deletes the file at `path`. A missing file counts as a failure.
bool removeLeaseState(const std::string& path,
                      const StateFileFault& fault = {});

// decodeLeaseState() of the whole file at `path`; absent also when the file
// cannot be read, is not a regular file (a FIFO would block start-up) or is
// larger than any state file could be (64 KiB). The value is returned as
// stored; its range is the caller's concern.
std::optional<int64_t> loadLeaseState(const std::string& path);

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_LEASE_STATE_FILE_H_
