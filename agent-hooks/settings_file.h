// Reading and replacing an agent's settings file safely.
//
// A file is read whole, up to kMaxSettingsBytes, and only when it is a
// regular file (a FIFO or a device at the path is refused before anything
// is read from it); its layout is scanned as strict JSON (no comments, no
// trailing commas). A missing file, or one holding only white space, has no
// layout. When the path is a symbolic link
// (a settings file kept in a dotfiles folder), the file it points to is read
// and replaced and the link stays; a link that points to nothing is refused,
// since writing through it would create a file wherever it points.
//
// Replacing is split in two so that several files can change together or
// not at all: staging backs the old file up and writes the new text to a
// temporary file beside it; committing renames that over the old file, so
// readers see the old or the new file and never a mix. The new file keeps
// the old one's mode and owner. Temporary files carry the staging process's
// id ("<name>.vesk-tmp-<pid>-XXXXXX"); a backup is written under such a
// name and linked to its own name only once complete, so a run that is
// killed leaves no partial backup, and the next run removes what a dead
// process left. All functions run on the calling thread and report failure
// as a value with a message naming the file in `*error`.
#ifndef VESK_AGENT_HOOKS_SETTINGS_FILE_H_
#define VESK_AGENT_HOOKS_SETTINGS_FILE_H_

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

#include "json_layout.h"

namespace vesk {

// Settings files are small; anything larger is not one.
inline constexpr size_t kMaxSettingsBytes = 4 << 20;

struct SettingsFile {
  std::filesystem::path path;  // the file itself, symbolic links resolved
  bool exists = false;
  std::string text;  // the bytes read, empty when the file does not exist
  std::optional<JsonNode> layout;  // none for a missing or blank file
  mode_t mode = 0644;  // the file's permission bits, or those for a new file
  uid_t uid = 0;       // the file's owner, when it exists
  gid_t gid = 0;
};

// Reads `path`. Returns nullopt with a message naming the file (and, for
// JSON errors, the line and column) in `*error`; so too when `path` or its
// folder is a symbolic link to nothing.
std::optional<SettingsFile> readSettingsFile(const std::filesystem::path& path,
                                             std::string* error);

// Whether the file at `file.path` still holds what was read (or is still
// missing): false, with `*error` set, when another program changed it.
bool unchangedSince(const SettingsFile& file, std::string* error);

// Removes the temporary files beside `path` that a killed run left behind
// (their process is gone).
void removeLeftovers(const std::filesystem::path& path);

// Whether the file can be replaced as its owner could: the file (when it
// exists) and the folder holding it (or, when that folder is missing, the
// one it would be created in) are writable. Root passes every permission
// check, so for root the owner's write bit decides as well: a file its
// owner made read-only stays untouched. Returns false with `*error` set.
bool checkReplaceable(const SettingsFile& file, std::string* error);

// What staging created; discardStaged removes all of it again.
struct StagedFile {
  std::filesystem::path temp;  // the new text, beside the file
  std::optional<std::filesystem::path> backup;
  std::filesystem::path createdFolder;  // empty unless staging made it
};

// Copies an existing file as it was read to "<path>.vesk-backup-<UTC time>"
// (a counter added when that name is taken), same mode and owner, and writes
// `text` to a temporary file in the file's folder, creating the folder when
// it is missing. The temporary file has the old file's mode and owner, or
// for a new file mode 0644 less the umask and the folder's owner. Returns
// nullopt with `*error` set, having removed whatever it created.
std::optional<StagedFile> stageSettingsFile(const SettingsFile& file,
                                            const std::string& text,
                                            std::string* error);

// Renames the staged text over the file. On failure the staged temporary
// file is removed (the backup stays) and `*error` is set.
bool commitSettingsFile(const SettingsFile& file, const StagedFile& staged,
                        std::string* error);

// Removes the temporary file, the backup and a folder staging created.
void discardStaged(const StagedFile& staged);

// Keeps the newest `keep` of the file's backups and removes the older ones,
// ordered by the time (and counter) in their names; `kept`, the backup just
// made, always counts among those kept, whatever time stamps the others
// carry. Only files named exactly
// as staging names them ("<path>.vesk-backup-YYYYMMDDTHHMMSSZ" with an
// optional "-N") count; anything else beside the file stays. Returns false
// with `*error` naming a backup that could not be removed (the rest are
// still tried).
bool pruneBackups(const SettingsFile& file, size_t keep,
                  const std::filesystem::path& kept, std::string* error);

}  // namespace vesk

#endif  // VESK_AGENT_HOOKS_SETTINGS_FILE_H_
