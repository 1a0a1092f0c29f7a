// Child processes through posix_spawn.

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "descriptor.h"
#include "subprocess.h"

extern char** environ;

namespace vesk {

namespace {

// A descriptor numbered 0, 1 or 2 (possible when the daemon runs with one of
// them closed) would collide with the child's standard streams; such a one
// is moved above them, still close-on-exec.
bool keepAboveStandardStreams(Descriptor& fd) {
  if (!fd.valid()) return false;
  if (fd.get() > 2) return true;
  int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 3);
  fd.reset(moved);
  return fd.valid();
}

class SpawnSetup {
 public:
  SpawnSetup() {
    actionsReady_ = posix_spawn_file_actions_init(&actions_) == 0;
    attributesReady_ = posix_spawnattr_init(&attributes_) == 0;
  }
  ~SpawnSetup() {
    if (actionsReady_) posix_spawn_file_actions_destroy(&actions_);
    if (attributesReady_) posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // Standard output to `out`, standard error to `null`, every descriptor
  // above 2 closed, default signal actions, empty signal mask.
  bool prepare(int out, int null) {
    if (!actionsReady_ || !attributesReady_) return false;
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    if (posix_spawn_file_actions_adddup2(&actions_, out, 1) != 0 ||
        posix_spawn_file_actions_adddup2(&actions_, null, 2) != 0) {
      return false;
    }
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    // Every descriptor of the daemon is close-on-exec already; closing all
    // others in the child also covers one that some library opened without
    // the flag.
#if defined(__APPLE__)
    // Only descriptors that the file actions name reach the child, so
    // standard input is named too (if the daemon has one: naming a closed
    // descriptor would fail the spawn).
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
    if (::fcntl(0, F_GETFD) != -1 &&
        posix_spawn_file_actions_addinherit_np(&actions_, 0) != 0) {
      return false;
    }
#elif defined(__GLIBC__) && \
    (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // After the dup2 actions, which still read `out` and `null`.
    if (posix_spawn_file_actions_addclosefrom_np(&actions_, 3) != 0) {
      return false;
    }
#endif
    return posix_spawnattr_setsigdefault(&attributes_, &all) == 0 &&
           posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
           posix_spawnattr_setflags(&attributes_, flags) == 0;
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
  bool actionsReady_ = false;
  bool attributesReady_ = false;
};

// Reads `fd` to end of file, handing every chunk to `output`. False on a
// read error.
bool drain(int fd, const OutputSink& output) {
  char buffer[64 * 1024];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    output(std::string_view(buffer, static_cast<size_t>(n)));
  }
}

// A pipe whose ends are both close-on-exec. (pipe2 would set the flag at
// once, but macOS has no pipe2. The moment without it does no harm: only the
// lease queue starts children, one at a time, and each child closes every
// descriptor but its standard streams.)
bool makePipe(Descriptor& readEnd, Descriptor& writeEnd) {
  int fds[2];
  if (::pipe(fds) != 0) return false;
  readEnd.reset(fds[0]);
  writeEnd.reset(fds[1]);
  return ::fcntl(fds[0], F_SETFD, FD_CLOEXEC) == 0 &&
         ::fcntl(fds[1], F_SETFD, FD_CLOEXEC) == 0;
}

std::optional<int> reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return std::nullopt;
  }
  if (!WIFEXITED(status)) return std::nullopt;
  return WEXITSTATUS(status);
}

}  // namespace

std::optional<int> runProcess(const std::string& path,
                              const std::vector<std::string>& arguments,
                              const OutputSink& output) {
  Descriptor null(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (!keepAboveStandardStreams(null)) return std::nullopt;
  Descriptor readEnd;
  Descriptor writeEnd;
  if (output) {
    if (!makePipe(readEnd, writeEnd) ||
        !keepAboveStandardStreams(readEnd) ||
        !keepAboveStandardStreams(writeEnd)) {
      return std::nullopt;
    }
  }

  SpawnSetup setup;
  if (!setup.prepare(output ? writeEnd.get() : null.get(), null.get())) {
    return std::nullopt;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);

  pid_t pid = -1;
  if (posix_spawn(&pid, path.c_str(), setup.actions(), setup.attributes(),
                  argv.data(), environ) != 0) {
    return std::nullopt;
  }
  bool drained = true;
  if (output) {
    // Only the child may hold the write end now, so end of file comes when
    // the child (and anything it passed its output to) is done with it.
    writeEnd.reset();
    drained = drain(readEnd.get(), output);
    // After a read error, closing our end makes a still-writing child fail
    // instead of blocking forever, so it can be reaped.
    readEnd.reset();
  }
  std::optional<int> status = reap(pid);
  if (!drained) return std::nullopt;
  return status;
}

}  // namespace vesk
