#include "status_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <tuple>

#include "json_text.h"

namespace vesk {

namespace {

constexpr mode_t kDirectoryMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr std::string_view kStatusDirectory =
    "Library/Application Support/Vesk/agents";

// mkdir is subject to the umask, so a folder this run creates gets its mode
// set explicitly as well.
bool makeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), kDirectoryMode) != 0) return false;
  ::chmod(path.c_str(), kDirectoryMode);
  return true;
}

void makeFolders(const std::string& path) {
  if (makeFolder(path) || errno != ENOENT) return;
  // Some ancestor is missing: create each missing one from the top down.
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    makeFolder(path.substr(0, slash));
  }
  makeFolder(path);
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return true;
}

// Reads to the end of the file; false when that fails or the content is
// longer than `limit` (the file may have grown since it was measured).
bool readAll(int fd, std::string& out, std::size_t limit) {
  char piece[65536];
  for (;;) {
    const std::size_t room = limit + 1 - out.size();
    ssize_t got = ::read(fd, piece, std::min(sizeof piece, room));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    out.append(piece, static_cast<std::size_t>(got));
    if (out.size() > limit) return false;
  }
}

// A name no other process can guess ahead of time, so nobody can plant a
// file or link where the record is about to be written.
std::string temporaryName(std::string_view name) {
  std::uint64_t bits = 0;
  if (::getentropy(&bits, sizeof bits) != 0) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    bits ^= static_cast<std::uint64_t>(now.tv_nsec) * 0x9e3779b97f4a7c15u ^
            static_cast<std::uint64_t>(::getpid()) << 32;
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string result = ".";
  result += name;
  result += '.';
  for (int i = 0; i < 16; ++i, bits >>= 4) result += kDigits[bits & 0xf];
  return result;
}

}  // namespace

std::string makeStatusDirectory(std::string_view home) {
  std::string path(home);
  if (path.empty() || path.back() != '/') path += '/';
  path += kStatusDirectory;
  makeFolders(path);
  ::chmod(path.c_str(), kDirectoryMode);
  return path;
}

std::string statusFilePath(std::string_view directory, std::string_view key) {
  std::string path(directory);
  path += '/';
  path += key;
  path += ".json";
  return path;
}

std::optional<boost::json::object> loadPreviousRecord(
    const std::string& path, boost::json::storage_ptr storage) {
  // O_NONBLOCK: a FIFO planted at the path must not stall the run.
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::string text;
  bool whole = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
               info.st_size <= off_t{kLargestPreviousRecord};
  if (whole) {
    text.reserve(static_cast<std::size_t>(info.st_size));
    whole = readAll(fd, text, kLargestPreviousRecord);
  }
  ::close(fd);
  if (!whole) return std::nullopt;
  return parseJsonObject(text, std::move(storage));
}

bool writeStatusRecord(const boost::json::object& record,
                       const std::string& path) {
  std::optional<std::string> text = writeCompactJson(record);
  if (!text) return false;

  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name =
      slash == std::string::npos ? path : path.substr(slash + 1);
  const int dirfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirfd < 0) return false;

  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    temporary = temporaryName(name);
    fd = ::openat(dirfd, temporary.c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  kFileMode);
    if (fd < 0 && errno != EEXIST) break;
  }

  bool replaced = false;
  if (fd >= 0) {
    replaced = writeAll(fd, *text) &&
               ::renameat(dirfd, temporary.c_str(), dirfd, name.c_str()) == 0;
    if (replaced) {
      // The descriptor still names the file just put in place, so this
      // cannot be diverted by whatever appears at the path afterwards.
      ::fchmod(fd, kFileMode);
    } else {
      ::unlinkat(dirfd, temporary.c_str(), 0);
    }
    ::close(fd);
  }
  // Best effort, as every path of this function: the result is not needed.
  if (!replaced)
    std::ignore = ::fchmodat(dirfd, name.c_str(), kFileMode, AT_SYMLINK_NOFOLLOW);
  ::close(dirfd);
  return replaced;
}

}  // namespace vesk
