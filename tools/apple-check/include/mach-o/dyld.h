// Declaration-only stand-in for the executable-path query of the macOS 13
// SDK's <mach-o/dyld.h> (libdyld, part of libSystem).

#ifndef VESK_APPLE_CHECK_MACH_O_DYLD_H_
#define VESK_APPLE_CHECK_MACH_O_DYLD_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// mach-o/dyld.h: copies the running executable's path into `buf`; returns
// 0, or -1 with the size needed stored in *bufsize when `buf` is too small.
int _NSGetExecutablePath(char* buf, uint32_t* bufsize);

#ifdef __cplusplus
}
#endif

#endif  // VESK_APPLE_CHECK_MACH_O_DYLD_H_
