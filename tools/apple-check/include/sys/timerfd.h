// <sys/timerfd.h> exists only on Linux; macOS has dispatch timer sources.
#error "<sys/timerfd.h> is Linux-only: macOS has dispatch timer sources"
