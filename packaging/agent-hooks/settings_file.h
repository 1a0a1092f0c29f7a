// Reading and replacing an agent's settings file safely.
//
// A file is read whole and parsed as strict JSON (no comments, no trailing
// commas); it must hold one object. A missing file, or one holding only
// white space, reads as an empty object. Replacing writes a temporary file
// in the same directory and renames it over the old one, so readers see the
// old or the new file and never a mix; the new file keeps the old one's mode
// and, where the caller may, its owner. When the path is a symbolic link,
// the file it points to is read and replaced, and the link stays.
#ifndef VESK_PACKAGING_AGENT_HOOKS_SETTINGS_FILE_H_
#define VESK_PACKAGING_AGENT_HOOKS_SETTINGS_FILE_H_

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

#include <boost/json/object.hpp>

namespace vesk {

struct SettingsFile {
  std::filesystem::path path;  // the file itself, symbolic links resolved
  bool exists = false;
  std::string text;  // the bytes read, empty when the file does not exist
  boost::json::object settings;
  mode_t mode = 0644;  // the file's permission bits, or those for a new file
};

// Reads `path`. Returns nullopt with a message naming the file (and, for
// JSON errors, the line and column) in `*error`.
std::optional<SettingsFile> ReadSettingsFile(const std::filesystem::path& path,
                                             std::string* error);

// Copies the file as it was read to "<path>.vesk-backup-<UTC time>" (with a
// counter added when that name is taken), with the same mode. Returns the
// backup's path.
std::optional<std::filesystem::path> BackUpSettingsFile(
    const SettingsFile& file, std::string* error);

// Atomically replaces (or creates) the file with `text`. A new file gets mode
// 0644 less the umask; a missing parent directory is created.
bool ReplaceSettingsFile(const SettingsFile& file, const std::string& text,
                         std::string* error);

}  // namespace vesk

#endif  // VESK_PACKAGING_AGENT_HOOKS_SETTINGS_FILE_H_
