// <sys/prctl.h> exists only on Linux; macOS has no equivalent.
#error "<sys/prctl.h> is Linux-only: macOS has no equivalent"
