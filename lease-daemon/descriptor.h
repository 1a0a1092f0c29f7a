// Descriptor: owns one POSIX file descriptor and closes it when it goes out
// of scope, so no early return can leak one into the pmset child or keep a
// file open. A negative value means "none". Ownership moves; a moved-from
// Descriptor holds none. Not thread-safe; one owner.

#ifndef VESK_LEASE_DAEMON_DESCRIPTOR_H_
#define VESK_LEASE_DAEMON_DESCRIPTOR_H_

#include <unistd.h>

#include <utility>

namespace vesk {

class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

  // Closes the descriptor held, if any, and takes `fd` instead.
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

  // Gives the descriptor up without closing it.
  int release() { return std::exchange(fd_, -1); }

  // Closes now and reports whether the close (which may carry a deferred
  // write error) succeeded.
  bool close() {
    int fd = fd_;
    fd_ = -1;
    return fd >= 0 && ::close(fd) == 0;
  }

 private:
  int fd_ = -1;
};

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_DESCRIPTOR_H_
