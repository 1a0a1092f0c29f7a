// <sys/inotify.h> exists only on Linux; macOS has FSEvents or kqueue's EVFILT_VNODE.
#error "<sys/inotify.h> is Linux-only: macOS has FSEvents or kqueue's EVFILT_VNODE"
