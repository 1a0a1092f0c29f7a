// Forced first into every file the Apple syntax check compiles on Linux
// (clang++ -include). It turns the Linux C library into a stand-in for the
// Darwin one, so that code written for macOS is checked against what macOS
// really has:
//
// 1. The C library headers are read first, while the C library is still
//    itself (poisoning a name before its own header declares it would break
//    that header).
// 2. The Darwin-only names the Apple code uses are declared, as <time.h>,
//    <spawn.h> and <fcntl.h> declare them on macOS 13.
// 3. Names that exist on Linux but not on macOS are poisoned: any later use
//    is a compile error, so shared code cannot call them by accident.
// 4. The platform macros are switched: __APPLE__ and __MACH__ are defined and
//    the Linux and glibc ones removed, so every `#if` takes its Apple branch.
//
// Only C++ and Objective-C++ are checked, so C++ may be assumed.

#ifndef VESK_APPLE_CHECK_PRELUDE_H_
#define VESK_APPLE_CHECK_PRELUDE_H_

// --- 1. The C library, while it is still glibc ------------------------------
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
// The C++ library settles its own glibc-dependent configuration here too
// (<bits/c++config.h> with the first standard header).
#include <cstddef>

// --- 2. Darwin-only names ---------------------------------------------------
extern "C" {

// <time.h>, macOS 10.12: a clock that stops while the machine sleeps (the
// same count as mach_absolute_time), and the call that reads any clock as
// nanoseconds. clockid_t is an enum on Darwin; an int value serves here.
#define CLOCK_UPTIME_RAW 8
#define CLOCK_UPTIME_RAW_APPROX 9
#define CLOCK_MONOTONIC_RAW_APPROX 5
uint64_t clock_gettime_nsec_np(clockid_t clock_id);

// <spawn.h>, macOS 10.7: posix_spawnattr_setflags() flag that closes every
// descriptor not named by the file actions in the child (Apple extension).
#define POSIX_SPAWN_CLOEXEC_DEFAULT 0x4000
// <spawn.h>, macOS 10.7: keeps `filedes` open in the child even under
// POSIX_SPAWN_CLOEXEC_DEFAULT.
int posix_spawn_file_actions_addinherit_np(posix_spawn_file_actions_t* actions,
                                           int filedes);

// <sys/fcntl.h>: fcntl() command that asks the drive itself to store what
// was written (fsync() on macOS only reaches the drive's cache).
#define F_FULLFSYNC 51
// <sys/fcntl.h>: fcntl() command for the path of an open descriptor.
#define F_GETPATH 50

// <sys/socket.h>: the Darwin stand-in for MSG_NOSIGNAL, a socket option.
#define SO_NOSIGPIPE 0x1022
// <sys/un.h> / <sys/ucred.h>: peer credentials of a local socket.
#define LOCAL_PEERCRED 0x001
#define LOCAL_PEERPID 0x002
#define SOL_LOCAL 0
// <unistd.h>: effective user and group of a local socket's peer.
int getpeereid(int socket, uid_t* euid, gid_t* egid);

// <stdlib.h>: the current program's path is not in /proc on macOS.
const char* getprogname(void);

}  // extern "C"

// --- 3. Linux-only names ----------------------------------------------------
// Macros first lose their glibc definition, then every name is poisoned.
#undef SOCK_CLOEXEC
#undef SOCK_NONBLOCK
#undef MSG_NOSIGNAL
#undef MSG_CMSG_CLOEXEC
#undef SO_PEERCRED
#undef SO_PEERPIDFD
#undef SO_PASSCRED
#undef SCM_CREDENTIALS
#undef GRND_NONBLOCK
#undef GRND_RANDOM
#undef O_TMPFILE
#undef O_PATH
#undef O_DIRECT
#undef O_NOATIME
#undef CLOCK_BOOTTIME
#undef CLOCK_REALTIME_COARSE
#undef CLOCK_MONOTONIC_COARSE
#undef POSIX_SPAWN_USEVFORK
#undef SYS_pidfd_open
#undef SYS_pidfd_send_signal
#undef SYS_pidfd_getfd
#undef SYS_getrandom
#undef SYS_close_range
#undef SYS_gettid
#undef P_PIDFD
#undef CLONE_NEWNS
#undef CLONE_NEWUSER
#undef CLONE_NEWPID
#undef MS_BIND
#undef MS_REC
#undef MS_PRIVATE

#pragma GCC poison SOCK_CLOEXEC SOCK_NONBLOCK MSG_NOSIGNAL MSG_CMSG_CLOEXEC
#pragma GCC poison SO_PEERCRED SO_PEERPIDFD SO_PASSCRED SCM_CREDENTIALS ucred
#pragma GCC poison GRND_NONBLOCK GRND_RANDOM getrandom
#pragma GCC poison O_TMPFILE O_PATH O_DIRECT O_NOATIME
#pragma GCC poison CLOCK_BOOTTIME CLOCK_REALTIME_COARSE CLOCK_MONOTONIC_COARSE
#pragma GCC poison POSIX_SPAWN_USEVFORK posix_spawn_file_actions_addclosefrom_np
#pragma GCC poison SYS_pidfd_open SYS_pidfd_send_signal SYS_pidfd_getfd
#pragma GCC poison SYS_getrandom SYS_close_range SYS_gettid P_PIDFD
#pragma GCC poison pidfd_open pidfd_send_signal pidfd_getfd
// Namespaces and bind mounts (macOS's mount() takes other arguments).
#pragma GCC poison unshare setns CLONE_NEWNS CLONE_NEWUSER CLONE_NEWPID
#pragma GCC poison MS_BIND MS_REC MS_PRIVATE
#pragma GCC poison pipe2 dup3 accept4 close_range closefrom
#pragma GCC poison eventfd eventfd_read eventfd_write
#pragma GCC poison epoll_create epoll_create1 epoll_ctl epoll_wait epoll_pwait
#pragma GCC poison signalfd timerfd_create timerfd_settime inotify_init1
#pragma GCC poison memfd_create copy_file_range sendfile
#pragma GCC poison ppoll sigtimedwait sigwaitinfo clock_nanosleep
#pragma GCC poison timer_create timer_settime timer_delete
#pragma GCC poison pthread_condattr_setclock pthread_setname_np
#pragma GCC poison pthread_timedjoin_np pthread_tryjoin_np gettid
#pragma GCC poison secure_getenv get_current_dir_name
#pragma GCC poison program_invocation_name program_invocation_short_name
#pragma GCC poison strchrnul memrchr rawmemchr mempcpy
#pragma GCC poison posix_fallocate fallocate syncfs prctl getauxval
#pragma GCC poison malloc_usable_size malloc_trim mallinfo
// Darwin has these with other arguments (a position and options):
#pragma GCC poison getxattr fgetxattr setxattr fsetxattr listxattr flistxattr

// --- 4. The platform macros -------------------------------------------------
#undef __GLIBC__
#undef __GLIBC_MINOR__
#undef __linux__
#undef __linux
#undef linux
#undef __gnu_linux__
#undef __unix__
#undef __unix
#undef unix
#undef __ELF__
#define __APPLE__ 1
#define __MACH__ 1

#endif  // VESK_APPLE_CHECK_PRELUDE_H_
