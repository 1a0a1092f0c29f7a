#include "settings_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>
#include <utility>
#include <vector>


namespace vesk {
namespace {

std::string errnoText(const std::string& what, const std::filesystem::path& p) {
  return what + " " + p.string() + ": " + std::strerror(errno);
}

// Reads all of `fd`, stopping one byte past kMaxSettingsBytes.
bool readAll(int fd, std::string* out) {
  char buffer[65536];
  while (out->size() <= kMaxSettingsBytes) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out->append(buffer, static_cast<size_t>(n));
  }
  return true;
}

bool writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool onlyWhiteSpace(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

bool isSymlink(const std::filesystem::path& p) {
  struct stat st;
  return lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string linkError(const std::filesystem::path& link,
                      const std::error_code& ec) {
  std::error_code ignored;
  std::filesystem::path target = std::filesystem::read_symlink(link, ignored);
  if (ec == std::errc::no_such_file_or_directory) {
    return link.string() + " is a symbolic link to " + target.string() +
           ", which does not exist";
  }
  return "cannot follow the symbolic link " + link.string() + " (to " +
         target.string() + "): " + ec.message();
}

// Whether `p` may be written as its owner could. A missing owner write bit
// counts even for root, who would pass the kernel's check: the owner made
// the file read-only on purpose.
bool checkWritable(const std::filesystem::path& p, int accessMode,
                   std::string* error) {
  struct stat st;
  if (stat(p.c_str(), &st) != 0) {
    *error = errnoText("cannot check", p);
    return false;
  }
  if ((st.st_mode & S_IWUSR) == 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o",
                  static_cast<unsigned>(st.st_mode & 07777));
    *error = p.string() + " is read-only (mode " + mode + ")";
    return false;
  }
  if (faccessat(AT_FDCWD, p.c_str(), accessMode, AT_EACCESS) != 0) {
    *error = errnoText("cannot write", p);
    return false;
  }
  return true;
}

// Gives a file or folder this program creates the owner it should have when
// running with the right to (as root for someone else's home); an ordinary
// user's own files already match.
bool setOwner(int fd, uid_t uid, gid_t gid) {
  if (uid == geteuid() && gid == getegid()) return true;
  return fchown(fd, uid, gid) == 0 || errno == EPERM;
}

// Fills the new file open at `fd` with `text`, gives it its owner (first:
// changing the owner may clear mode bits) and mode, and closes it. False,
// with errno from the failing step, when any step fails.
bool fillAndClose(int fd, const std::string& text, mode_t mode, uid_t uid,
                  gid_t gid) {
  bool ok = writeAll(fd, text) && setOwner(fd, uid, gid) &&
            fchmod(fd, mode) == 0 && fsync(fd) == 0;
  int saved = errno;
  ok = close(fd) == 0 && ok;
  if (!ok) errno = saved;
  return ok;
}

constexpr char kBackupInfix[] = ".vesk-backup-";
constexpr int kBackupAttempts = 100;  // the counter stays below this

bool allDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return c >= '0' && c <= '9';
  });
}

// The sort key of a backup of `settingsName` named `name`: its time stamp
// and counter, or nullopt when `name` is anything else.
std::optional<std::pair<std::string, int>> backupKey(
    std::string_view name, std::string_view settingsName) {
  std::string prefix = std::string(settingsName) + kBackupInfix;
  if (!name.starts_with(prefix)) return std::nullopt;
  name.remove_prefix(prefix.size());
  // YYYYMMDDTHHMMSSZ, then nothing or "-" and the counter.
  if (name.size() < 16 || !allDigits(name.substr(0, 8)) || name[8] != 'T' ||
      !allDigits(name.substr(9, 6)) || name[15] != 'Z') {
    return std::nullopt;
  }
  std::string stamp(name.substr(0, 16));
  std::string_view counter = name.substr(16);
  if (counter.empty()) return std::make_pair(stamp, 0);
  if (counter[0] != '-') return std::nullopt;
  counter.remove_prefix(1);
  if (counter.size() > 2 || !allDigits(counter)) return std::nullopt;
  return std::make_pair(stamp, std::stoi(std::string(counter)));
}

constexpr char kTempInfix[] = ".vesk-tmp-";

// A new temporary file beside `file`, named for this process, open for
// writing; -1 with errno set on failure.
int makeTemp(const std::filesystem::path& file, std::string* name) {
  *name = file.string() + kTempInfix + std::to_string(getpid()) + "-XXXXXX";
  return mkstemp(name->data());
}

// Copies the file as read to a temporary file, then links it to a free
// backup name: the backup's name never shows a partial copy.
std::optional<std::filesystem::path> backUp(const SettingsFile& file,
                                            std::string* error) {
  std::string temp;
  int fd = makeTemp(file.path, &temp);
  if (fd < 0) {
    *error = errnoText("cannot create a backup beside", file.path);
    return std::nullopt;
  }
  if (!fillAndClose(fd, file.text, file.mode, file.uid, file.gid)) {
    *error = errnoText("cannot write the backup of", file.path);
    unlink(temp.c_str());
    return std::nullopt;
  }
  char stamp[32];
  std::time_t now = std::time(nullptr);
  struct tm utc;
  gmtime_r(&now, &utc);
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  std::string base = file.path.string() + kBackupInfix + stamp;
  for (int attempt = 0; attempt < kBackupAttempts; ++attempt) {
    std::string name =
        attempt == 0 ? base : base + "-" + std::to_string(attempt);
    if (link(temp.c_str(), name.c_str()) == 0) {
      unlink(temp.c_str());
      return std::filesystem::path(name);
    }
    if (errno != EEXIST) {
      *error = errnoText("cannot create the backup", name);
      unlink(temp.c_str());
      return std::nullopt;
    }
  }
  unlink(temp.c_str());
  *error = "cannot find a free backup name next to " + file.path.string();
  return std::nullopt;
}

// Whether `name` is a temporary file of `settingsName` whose process is
// gone: "<settingsName>.vesk-tmp-<pid>-XXXXXX", or the "<settingsName>.vesk-
// XXXXXX" that earlier versions left without a process id.
bool isLeftover(std::string_view name, std::string_view settingsName) {
  if (!name.starts_with(settingsName)) return false;
  name.remove_prefix(settingsName.size());
  auto isAlnum = [](std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
      return std::isalnum(static_cast<unsigned char>(c));
    });
  };
  if (name.starts_with(".vesk-") && name.size() == 12 &&
      isAlnum(name.substr(6))) {
    return true;
  }
  if (!name.starts_with(kTempInfix)) return false;
  name.remove_prefix(sizeof kTempInfix - 1);
  size_t dash = name.find('-');
  if (dash == std::string_view::npos || !allDigits(name.substr(0, dash)) ||
      name.size() != dash + 7 || !isAlnum(name.substr(dash + 1))) {
    return false;
  }
  long pid = std::strtol(std::string(name.substr(0, dash)).c_str(), nullptr,
                         10);
  return pid > 0 && pid != getpid() && kill(static_cast<pid_t>(pid), 0) != 0 &&
         errno == ESRCH;
}

// Makes the agent's missing folder (~/.claude); as root, with the owner of
// the folder it is made in.
bool makeFolder(const std::filesystem::path& dir, std::string* error) {
  if (mkdir(dir.c_str(), 0777) != 0) {
    *error = errnoText("cannot create", dir);
    return false;
  }
  struct stat parent;
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool ok = fd >= 0 &&
            (geteuid() != 0 || (stat(dir.parent_path().c_str(), &parent) == 0 &&
                                setOwner(fd, parent.st_uid, parent.st_gid)));
  int saved = errno;
  if (fd >= 0) close(fd);
  if (!ok) {
    errno = saved;
    *error = errnoText("cannot set the owner of", dir);
    rmdir(dir.c_str());
  }
  return ok;
}

}  // namespace

std::optional<SettingsFile> readSettingsFile(const std::filesystem::path& path,
                                             std::string* error) {
  SettingsFile file;
  file.path = path;
  std::error_code ec;
  if (isSymlink(path)) {
    file.path = std::filesystem::canonical(path, ec);
    if (ec) {
      *error = linkError(path, ec);
      return std::nullopt;
    }
  }

  // Non-blocking, so that a FIFO at the path cannot hold the open; its type
  // is checked before a byte is read.
  int fd = open(file.path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) {
      *error = errnoText("cannot open", file.path);
      return std::nullopt;
    }
    // The folder may be a link into a dotfiles folder too; writing through
    // one to nothing would create that folder wherever it points.
    std::filesystem::path dir = file.path.parent_path();
    if (isSymlink(dir) && std::filesystem::canonical(dir, ec).empty()) {
      *error = linkError(dir, ec);
      return std::nullopt;
    }
    return file;
  }
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  bool regular = ok && S_ISREG(st.st_mode);
  ok = ok && (!regular || readAll(fd, &file.text));
  int saved = errno;
  close(fd);
  errno = saved;
  if (!ok) {
    *error = errnoText("cannot read", file.path);
    return std::nullopt;
  }
  if (!regular) {
    *error = file.path.string() +
             " is not a regular file (a FIFO, device or folder); refusing to "
             "read it";
    return std::nullopt;
  }
  if (file.text.size() > kMaxSettingsBytes) {
    *error = file.path.string() + " is larger than " +
             std::to_string(kMaxSettingsBytes >> 20) +
             " MiB; that is no settings file";
    return std::nullopt;
  }
  file.exists = true;
  file.mode = st.st_mode & 07777;
  file.uid = st.st_uid;
  file.gid = st.st_gid;
  if (onlyWhiteSpace(file.text)) return file;

  std::string parseError;
  file.layout = scanJson(file.text, &parseError);
  if (!file.layout) {
    *error = "cannot parse " + file.path.string() + " (" + parseError + ")";
    return std::nullopt;
  }
  return file;
}

bool unchangedSince(const SettingsFile& file, std::string* error) {
  std::string ignored;
  auto now = readSettingsFile(file.path, &ignored);
  if (now && now->exists == file.exists && now->text == file.text) return true;
  *error = file.path.string() +
           " was changed by another program while this one was editing it";
  return false;
}

void removeLeftovers(const std::filesystem::path& path) {
  std::error_code ec;
  std::string settingsName = path.filename().string();
  for (const auto& entry :
       std::filesystem::directory_iterator(path.parent_path(), ec)) {
    if (isLeftover(entry.path().filename().string(), settingsName)) {
      unlink(entry.path().c_str());
    }
  }
}

bool checkReplaceable(const SettingsFile& file, std::string* error) {
  if (file.exists && !checkWritable(file.path, W_OK, error)) return false;
  std::filesystem::path dir = file.path.parent_path();
  std::error_code ec;
  if (!std::filesystem::exists(dir, ec)) dir = dir.parent_path();
  return checkWritable(dir, W_OK | X_OK, error);
}

std::optional<StagedFile> stageSettingsFile(const SettingsFile& file,
                                            const std::string& text,
                                            std::string* error) {
  StagedFile staged;
  std::filesystem::path dir = file.path.parent_path();
  struct stat dirStat;
  if (stat(dir.c_str(), &dirStat) != 0) {
    if (errno != ENOENT) {
      *error = errnoText("cannot reach", dir);
      return std::nullopt;
    }
    if (!makeFolder(dir, error)) return std::nullopt;
    staged.createdFolder = dir;
    if (stat(dir.c_str(), &dirStat) != 0) {
      *error = errnoText("cannot reach", dir);
      discardStaged(staged);
      return std::nullopt;
    }
  }

  if (file.exists) {
    staged.backup = backUp(file, error);
    if (!staged.backup) {
      discardStaged(staged);
      return std::nullopt;
    }
  }

  std::string temp;
  int fd = makeTemp(file.path, &temp);
  if (fd < 0) {
    *error = errnoText("cannot create a temporary file in", dir);
    discardStaged(staged);
    return std::nullopt;
  }
  staged.temp = temp;
  mode_t mode = file.mode;
  uid_t uid = file.uid;
  gid_t gid = file.gid;
  if (!file.exists) {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0644 & ~mask;
    uid = geteuid() == 0 ? dirStat.st_uid : geteuid();
    gid = geteuid() == 0 ? dirStat.st_gid : getegid();
  }
  if (!fillAndClose(fd, text, mode, uid, gid)) {
    *error = errnoText("cannot write", staged.temp);
    discardStaged(staged);
    return std::nullopt;
  }
  return staged;
}

bool commitSettingsFile(const SettingsFile& file, const StagedFile& staged,
                        std::string* error) {
  if (rename(staged.temp.c_str(), file.path.c_str()) == 0) return true;
  *error = errnoText("cannot write", file.path);
  unlink(staged.temp.c_str());
  return false;
}

void discardStaged(const StagedFile& staged) {
  if (!staged.temp.empty()) unlink(staged.temp.c_str());
  if (staged.backup) unlink(staged.backup->c_str());
  if (!staged.createdFolder.empty()) rmdir(staged.createdFolder.c_str());
}

bool pruneBackups(const SettingsFile& file, size_t keep,
                  const std::filesystem::path& kept, std::string* error) {
  std::filesystem::path dir = file.path.parent_path();
  std::string settingsName = file.path.filename().string();
  std::vector<std::pair<std::pair<std::string, int>, std::filesystem::path>>
      backups;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    std::error_code typeError;
    if (!entry.is_regular_file(typeError) || entry.is_symlink(typeError)) {
      continue;
    }
    auto key = backupKey(entry.path().filename().string(), settingsName);
    if (key && entry.path() != kept) {
      backups.emplace_back(std::move(*key), entry.path());
    }
  }
  if (ec) {
    *error = "cannot list " + dir.string() + ": " + ec.message();
    return false;
  }
  // The backup just made is one of the `keep`.
  size_t others = keep > 0 ? keep - 1 : 0;
  if (backups.size() <= others) return true;
  std::sort(backups.begin(), backups.end());
  bool ok = true;
  for (size_t i = 0; i + others < backups.size(); ++i) {
    const std::filesystem::path& old = backups[i].second;
    if (unlink(old.c_str()) != 0 && errno != ENOENT && ok) {
      *error = errnoText("cannot remove the old backup", old);
      ok = false;
    }
  }
  return ok;
}

}  // namespace vesk
