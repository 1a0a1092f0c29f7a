// <sys/sendfile.h> exists only on Linux; macOS has a different sendfile(2) in <sys/socket.h>.
#error "<sys/sendfile.h> is Linux-only: macOS has a different sendfile(2) in <sys/socket.h>"
