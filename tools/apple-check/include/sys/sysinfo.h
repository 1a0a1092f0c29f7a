// <sys/sysinfo.h> exists only on Linux; macOS has sysctl(3).
#error "<sys/sysinfo.h> is Linux-only: macOS has sysctl(3)"
