// <sys/eventfd.h> exists only on Linux; macOS has a pipe, kqueue's EVFILT_USER or a dispatch source.
#error "<sys/eventfd.h> is Linux-only: macOS has a pipe, kqueue's EVFILT_USER or a dispatch source"
