// The lease state file on a POSIX file system.

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "descriptor.h"
#include "lease_state_file.h"

namespace vesk {

namespace {

// No state file the daemon writes comes anywhere near this; a bigger file is
// not one of ours and is not read into memory.
constexpr off_t kMaxStateFileSize = 64 * 1024;

bool failsAt(const StateFileFault& fault, StateFileStep step) {
  return fault && fault(step);
}

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Has what was written through `fd` stored by the drive itself. On macOS
// fsync() only hands the data to the drive, whose cache a power loss empties;
// F_FULLFSYNC flushes that cache too. A file system without F_FULLFSYNC
// gets the best it has, fsync().
bool flushToStorage(int fd) {
#if defined(F_FULLFSYNC)
  if (::fcntl(fd, F_FULLFSYNC) == 0) return true;
#endif
  return ::fsync(fd) == 0;
}

// Makes a rename or removal in `directory` durable.
bool syncDirectory(const std::string& directory) {
  Descriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return dir.valid() && flushToStorage(dir.get());
}

// Writes `bytes` to a new temporary file beside `path` and renames it over
// `path`. On failure nothing at `path` has changed and no temporary file is
// left behind.
bool replaceAtomically(const std::string& path, const std::string& bytes) {
  std::string directory = directoryOf(path);
  std::string base = path.substr(path.rfind('/') + 1);
  std::string temporary = directory + "/." + base + ".XXXXXX";
  // mkostemp creates the file with mode 0600, so the value is never readable
  // by others, not even before the permissions are set.
  Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!file.valid()) return false;
  bool written =
      writeAll(file.get(), bytes) && flushToStorage(file.get()) && file.close();
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return syncDirectory(directory);
}

}  // namespace

bool saveLeaseState(const std::string& path, int64_t value,
                    const StateFileFault& fault) {
  std::optional<std::string> bytes = encodeLeaseState(value);
  if (!bytes) return false;
  if (failsAt(fault, StateFileStep::kWrite)) return false;
  if (!replaceAtomically(path, *bytes)) return false;
  if (failsAt(fault, StateFileStep::kSetPermissions)) return false;
  return ::chmod(path.c_str(), 0600) == 0;
}

bool removeLeaseState(const std::string& path, const StateFileFault& fault) {
  if (failsAt(fault, StateFileStep::kRemove)) return false;
  if (::unlink(path.c_str()) != 0) return false;
  // The value is already back in place; a removal lost to a power cut only
  // makes the next start write the same value again.
  syncDirectory(directoryOf(path));
  return true;
}

std::optional<int64_t> loadLeaseState(const std::string& path) {
  // O_NONBLOCK so that a FIFO planted at the path cannot stall start-up;
  // anything but a regular file is refused below.
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file.valid()) return std::nullopt;
  struct stat st;
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size > kMaxStateFileSize) {
    return std::nullopt;
  }
  std::string bytes;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
    if (bytes.size() > static_cast<size_t>(kMaxStateFileSize)) {
      return std::nullopt;
    }
  }
  return decodeLeaseState(bytes);
}

}  // namespace vesk
