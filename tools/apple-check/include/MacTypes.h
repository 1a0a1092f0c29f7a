// Declaration-only stand-in for the macOS 13 SDK's <MacTypes.h>
// (CarbonCore, included by CoreFoundation's <CFBase.h>): the fixed-size
// integer names and OSStatus, as that header declares them for 64-bit
// targets.

#ifndef VESK_APPLE_CHECK_MACTYPES_H_
#define VESK_APPLE_CHECK_MACTYPES_H_

#include <stdint.h>

typedef unsigned char UInt8;        // MacTypes.h
typedef signed char SInt8;          // MacTypes.h
typedef unsigned short UInt16;      // MacTypes.h
typedef signed short SInt16;        // MacTypes.h
typedef unsigned int UInt32;        // MacTypes.h (64-bit targets)
typedef signed int SInt32;          // MacTypes.h (64-bit targets)
typedef signed long long SInt64;    // MacTypes.h
typedef unsigned long long UInt64;  // MacTypes.h
typedef float Float32;              // MacTypes.h
typedef double Float64;             // MacTypes.h
typedef unsigned char Boolean;      // MacTypes.h: Boolean is one byte
typedef SInt32 OSStatus;            // MacTypes.h: "OSStatus"
typedef SInt16 OSErr;               // MacTypes.h

enum { noErr = 0 };  // MacTypes.h

#endif  // VESK_APPLE_CHECK_MACTYPES_H_
