// <sys/epoll.h> exists only on Linux; macOS has kqueue (<sys/event.h>) or dispatch sources.
#error "<sys/epoll.h> is Linux-only: macOS has kqueue (<sys/event.h>) or dispatch sources"
