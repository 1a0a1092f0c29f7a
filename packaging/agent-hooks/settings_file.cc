#include "settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

}  // namespace

std::optional<SettingsFile> ReadSettingsFile(const std::filesystem::path& path,
                                             std::string* error) {
  SettingsFile file;
  file.path = path;
  std::error_code ec;
  if (std::filesystem::is_symlink(path, ec)) {
    std::filesystem::path target = std::filesystem::read_symlink(path, ec);
    if (ec) {
      *error = "cannot read the link " + path.string() + ": " + ec.message();
      return std::nullopt;
    }
    file.path = target.is_absolute() ? target : path.parent_path() / target;
  }

  int fd = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return file;
    *error = ErrnoText("cannot open", file.path);
    return std::nullopt;
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

std::optional<std::filesystem::path> BackUpSettingsFile(
    const SettingsFile& file, std::string* error) {
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
    bool ok =
        WriteAll(fd, file.text) && fchmod(fd, file.mode) == 0 && fsync(fd) == 0;
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

bool ReplaceSettingsFile(const SettingsFile& file, const std::string& text,
                         std::string* error) {
  std::filesystem::path dir = file.path.parent_path();
  if (dir.empty()) dir = ".";
  std::error_code ec;
  if (!std::filesystem::exists(dir, ec)) {
    std::filesystem::create_directories(dir, ec);
    if (ec) {
      *error = "cannot create " + dir.string() + ": " + ec.message();
      return false;
    }
  }

  std::string temp = (dir / (file.path.filename().string() + ".vesk-XXXXXX"));
  int fd = mkstemp(temp.data());
  if (fd < 0) {
    *error = ErrnoText("cannot create a temporary file in", dir);
    return false;
  }
  mode_t mode = file.mode;
  if (!file.exists) {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0644 & ~mask;
  }
  bool ok = WriteAll(fd, text) && fchmod(fd, mode) == 0;
  if (ok && file.exists) {
    // Keep the owner when running with the right to (e.g. as root for
    // someone else's home); an ordinary user's own file already matches.
    struct stat st;
    if (stat(file.path.c_str(), &st) == 0 &&
        (st.st_uid != geteuid() || st.st_gid != getegid())) {
      ok = fchown(fd, st.st_uid, st.st_gid) == 0 || errno == EPERM;
    }
  }
  ok = ok && fsync(fd) == 0;
  int saved = errno;
  ok = close(fd) == 0 && ok;
  if (ok && rename(temp.c_str(), file.path.c_str()) == 0) return true;
  if (ok) saved = errno;
  unlink(temp.c_str());
  errno = saved;
  *error = ErrnoText("cannot write", file.path);
  return false;
}

}  // namespace vesk
