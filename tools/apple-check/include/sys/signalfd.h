// <sys/signalfd.h> exists only on Linux; macOS has kqueue's EVFILT_SIGNAL or DISPATCH_SOURCE_TYPE_SIGNAL.
#error "<sys/signalfd.h> is Linux-only: macOS has kqueue's EVFILT_SIGNAL or DISPATCH_SOURCE_TYPE_SIGNAL"
