#include "settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <boost/json/stream_parser.hpp>

namespace vesk {
namespace {

std::string ErrnoText(const std::string& what, const std::filesystem::path& p) {
  return what + " " + p.string() + ": " + std::strerror(errno);
}

bool ReadAll(int fd, std::string* out) {
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out->append(buffer, static_cast<size_t>(n));
  }
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Line and column (both from 1) of byte `offset` in `text`.
std::string Position(const std::string& text, size_t offset) {
  size_t line = 1, column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

bool OnlyWhiteSpace(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

bool IsSymlink(const std::filesystem::path& p) {
  struct stat st;
  return lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string LinkError(const std::filesystem::path& link,
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
bool CheckWritable(const std::filesystem::path& p, int access_mode,
                   std::string* error) {
  struct stat st;
  if (stat(p.c_str(), &st) != 0) {
    *error = ErrnoText("cannot check", p);
    return false;
  }
  if ((st.st_mode & S_IWUSR) == 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o",
                  static_cast<unsigned>(st.st_mode & 07777));
    *error = p.string() + " is read-only (mode " + mode + ")";
    return false;
  }
  if (faccessat(AT_FDCWD, p.c_str(), access_mode, AT_EACCESS) != 0) {
    *error = ErrnoText("cannot write", p);
    return false;
  }
  return true;
}

// Gives a file or folder this program creates the owner it should have when
// running with the right to (as root for someone else's home); an ordinary
// user's own files already match.
bool SetOwner(int fd, uid_t uid, gid_t gid) {
  if (uid == geteuid() && gid == getegid()) return true;
  return fchown(fd, uid, gid) == 0 || errno == EPERM;
}

std::optional<std::filesystem::path> BackUp(const SettingsFile& file,
                                            std::string* error) {
  char stamp[32];
  std::time_t now = std::time(nullptr);
  struct tm utc;
  gmtime_r(&now, &utc);
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  std::string base = file.path.string() + ".vesk-backup-" + stamp;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name =
        attempt == 0 ? base : base + "-" + std::to_string(attempt);
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                  file.mode & 0777);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) {
      *error = ErrnoText("cannot create the backup", name);
      return std::nullopt;
    }
    bool ok = WriteAll(fd, file.text) && SetOwner(fd, file.uid, file.gid) &&
              fchmod(fd, file.mode) == 0 && fsync(fd) == 0;
    int saved = errno;
    ok = close(fd) == 0 && ok;
    if (!ok) {
      errno = saved;
      *error = ErrnoText("cannot write the backup", name);
      unlink(name.c_str());
      return std::nullopt;
    }
    return std::filesystem::path(name);
  }
  *error = "cannot find a free backup name next to " + file.path.string();
  return std::nullopt;
}

// Makes the agent's missing folder (~/.claude); as root, with the owner of
// the folder it is made in.
bool MakeFolder(const std::filesystem::path& dir, std::string* error) {
  if (mkdir(dir.c_str(), 0777) != 0) {
    *error = ErrnoText("cannot create", dir);
    return false;
  }
  struct stat parent;
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool ok = fd >= 0 &&
            (geteuid() != 0 || (stat(dir.parent_path().c_str(), &parent) == 0 &&
                                SetOwner(fd, parent.st_uid, parent.st_gid)));
  int saved = errno;
  if (fd >= 0) close(fd);
  if (!ok) {
    errno = saved;
    *error = ErrnoText("cannot set the owner of", dir);
    rmdir(dir.c_str());
  }
  return ok;
}

}  // namespace

std::optional<SettingsFile> ReadSettingsFile(const std::filesystem::path& path,
                                             std::string* error) {
  SettingsFile file;
  file.path = path;
  std::error_code ec;
  if (IsSymlink(path)) {
    file.path = std::filesystem::canonical(path, ec);
    if (ec) {
      *error = LinkError(path, ec);
      return std::nullopt;
    }
  }

  int fd = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) {
      *error = ErrnoText("cannot open", file.path);
      return std::nullopt;
    }
    // The folder may be a link into a dotfiles folder too; writing through
    // one to nothing would create that folder wherever it points.
    std::filesystem::path dir = file.path.parent_path();
    if (IsSymlink(dir) && std::filesystem::canonical(dir, ec).empty()) {
      *error = LinkError(dir, ec);
      return std::nullopt;
    }
    return file;
  }
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && ReadAll(fd, &file.text);
  int saved = errno;
  close(fd);
  errno = saved;
  if (!ok) {
    *error = ErrnoText("cannot read", file.path);
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = file.path.string() + " is not a regular file";
    return std::nullopt;
  }
  file.exists = true;
  file.mode = st.st_mode & 07777;
  file.uid = st.st_uid;
  file.gid = st.st_gid;
  if (OnlyWhiteSpace(file.text)) return file;

  boost::json::stream_parser parser;
  boost::system::error_code parse_error;
  size_t used = parser.write(file.text.data(), file.text.size(), parse_error);
  if (!parse_error) parser.finish(parse_error);
  if (parse_error) {
    *error = "cannot parse " + file.path.string() + " (" +
             Position(file.text, used) + "): " + parse_error.message();
    return std::nullopt;
  }
  boost::json::value value = parser.release();
  if (!value.is_object()) {
    *error = file.path.string() + " does not hold a JSON object";
    return std::nullopt;
  }
  file.settings = std::move(value.get_object());
  return file;
}

bool CheckReplaceable(const SettingsFile& file, std::string* error) {
  if (file.exists && !CheckWritable(file.path, W_OK, error)) return false;
  std::filesystem::path dir = file.path.parent_path();
  std::error_code ec;
  if (!std::filesystem::exists(dir, ec)) dir = dir.parent_path();
  return CheckWritable(dir, W_OK | X_OK, error);
}

std::optional<StagedFile> StageSettingsFile(const SettingsFile& file,
                                            const std::string& text,
                                            std::string* error) {
  StagedFile staged;
  std::filesystem::path dir = file.path.parent_path();
  struct stat dir_st;
  if (stat(dir.c_str(), &dir_st) != 0) {
    if (errno != ENOENT) {
      *error = ErrnoText("cannot reach", dir);
      return std::nullopt;
    }
    if (!MakeFolder(dir, error)) return std::nullopt;
    staged.created_folder = dir;
    if (stat(dir.c_str(), &dir_st) != 0) {
      *error = ErrnoText("cannot reach", dir);
      DiscardStaged(staged);
      return std::nullopt;
    }
  }

  if (file.exists) {
    staged.backup = BackUp(file, error);
    if (!staged.backup) {
      DiscardStaged(staged);
      return std::nullopt;
    }
  }

  std::string temp = dir / (file.path.filename().string() + ".vesk-XXXXXX");
  int fd = mkstemp(temp.data());
  if (fd < 0) {
    *error = ErrnoText("cannot create a temporary file in", dir);
    DiscardStaged(staged);
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
    uid = geteuid() == 0 ? dir_st.st_uid : geteuid();
    gid = geteuid() == 0 ? dir_st.st_gid : getegid();
  }
  // The owner first: changing it may clear mode bits.
  bool ok = WriteAll(fd, text) && SetOwner(fd, uid, gid) &&
            fchmod(fd, mode) == 0 && fsync(fd) == 0;
  int saved = errno;
  ok = close(fd) == 0 && ok;
  if (!ok) {
    errno = saved;
    *error = ErrnoText("cannot write", staged.temp);
    DiscardStaged(staged);
    return std::nullopt;
  }
  return staged;
}

bool CommitSettingsFile(const SettingsFile& file, const StagedFile& staged,
                        std::string* error) {
  if (rename(staged.temp.c_str(), file.path.c_str()) == 0) return true;
  *error = ErrnoText("cannot write", file.path);
  unlink(staged.temp.c_str());
  return false;
}

void DiscardStaged(const StagedFile& staged) {
  if (!staged.temp.empty()) unlink(staged.temp.c_str());
  if (staged.backup) unlink(staged.backup->c_str());
  if (!staged.created_folder.empty()) rmdir(staged.created_folder.c_str());
}

}  // namespace vesk
