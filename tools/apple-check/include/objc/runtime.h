// Declaration-only stand-in for the protocol queries of the macOS 13 SDK's
// <objc/runtime.h>.

#ifndef VESK_APPLE_CHECK_OBJC_RUNTIME_H_
#define VESK_APPLE_CHECK_OBJC_RUNTIME_H_

#include <objc/objc.h>

#ifdef __OBJC__
@class Protocol;  // objc/runtime.h
#else
typedef struct objc_object Protocol;  // objc/runtime.h
#endif

#ifdef __cplusplus
extern "C" {
#endif

struct objc_method_description {
  SEL name;     // objc/runtime.h
  char* types;  // objc/runtime.h: the plain (not extended) type encoding
};

// objc/runtime.h: one method of a protocol.
struct objc_method_description protocol_getMethodDescription(
    Protocol* p, SEL aSel, BOOL isRequiredMethod, BOOL isInstanceMethod);
const char* protocol_getName(Protocol* proto);  // objc/runtime.h
Protocol* objc_getProtocol(const char* name);   // objc/runtime.h

#ifdef __cplusplus
}
#endif

#endif  // VESK_APPLE_CHECK_OBJC_RUNTIME_H_
