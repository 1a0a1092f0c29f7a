// <sys/vfs.h> exists only on Linux; macOS has statfs(2) in <sys/mount.h>.
#error "<sys/vfs.h> is Linux-only: macOS has statfs(2) in <sys/mount.h>"
