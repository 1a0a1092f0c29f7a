// Declaration-only stand-in for the audit token of the macOS 13 SDK's
// <mach/message.h>: the kernel's record of who sent a message, which names
// a process exactly (its pid and the pid's version), unlike a pid alone.

#ifndef VESK_APPLE_CHECK_MACH_MESSAGE_H_
#define VESK_APPLE_CHECK_MACH_MESSAGE_H_

typedef struct {
  unsigned int val[8];
} audit_token_t;  // mach/message.h

#endif  // VESK_APPLE_CHECK_MACH_MESSAGE_H_
