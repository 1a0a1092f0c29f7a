// Declaration-only stand-in for the macOS 13 SDK's <TargetConditionals.h>
// (the target-platform switches that the test framework's headers read on
// macOS), with the values the SDK gives a macOS target.

#ifndef VESK_APPLE_CHECK_TARGET_CONDITIONALS_H_
#define VESK_APPLE_CHECK_TARGET_CONDITIONALS_H_

#define TARGET_OS_MAC 1            // TargetConditionals.h
#define TARGET_OS_OSX 1            // TargetConditionals.h
#define TARGET_OS_IPHONE 0         // TargetConditionals.h
#define TARGET_OS_IOS 0            // TargetConditionals.h
#define TARGET_OS_TV 0             // TargetConditionals.h
#define TARGET_OS_WATCH 0          // TargetConditionals.h
#define TARGET_OS_MACCATALYST 0    // TargetConditionals.h
#define TARGET_OS_SIMULATOR 0      // TargetConditionals.h
#define TARGET_OS_EMBEDDED 0       // TargetConditionals.h

#endif  // VESK_APPLE_CHECK_TARGET_CONDITIONALS_H_
