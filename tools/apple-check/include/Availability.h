// Declaration-only stand-in for the macOS 13 SDK's availability macros
// (<os/availability.h>, <AvailabilityMacros.h>), used by the other headers
// of this folder. Only the macOS platform is written: API_AVAILABLE(macos(13.0))
// becomes clang's availability attribute, which a Linux target accepts and
// ignores; the other platforms' entries are left out.

#ifndef VESK_APPLE_CHECK_AVAILABILITY_H_
#define VESK_APPLE_CHECK_AVAILABILITY_H_

#define __VESK_API_AVAILABLE_macos(v) \
  __attribute__((availability(macos, introduced = v)))
#define API_AVAILABLE(platform) __VESK_API_AVAILABLE_##platform
#define API_UNAVAILABLE(...)
#define API_DEPRECATED(...)

#endif  // VESK_APPLE_CHECK_AVAILABILITY_H_
