// Declaration-only stand-in for the macOS 13 SDK's <AvailabilityMacros.h>,
// which the test framework's headers include on macOS. Only the deployment
// target is written: MAC_OS_X_VERSION_MIN_REQUIRED as the SDK sets it for
// -mmacosx-version-min=13.0 (MAC_OS_VERSION_13_0, 130000).

#ifndef VESK_APPLE_CHECK_AVAILABILITY_MACROS_H_
#define VESK_APPLE_CHECK_AVAILABILITY_MACROS_H_

#include <Availability.h>

#define MAC_OS_X_VERSION_10_15 101500  // AvailabilityMacros.h
#define MAC_OS_VERSION_13_0 130000     // AvailabilityMacros.h
#define MAC_OS_X_VERSION_MIN_REQUIRED MAC_OS_VERSION_13_0  // AvailabilityMacros.h

#endif  // VESK_APPLE_CHECK_AVAILABILITY_MACROS_H_
