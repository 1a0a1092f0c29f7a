// Declaration-only stand-in for the macOS 13 SDK's <objc/objc.h> (the
// Objective-C runtime's basic types).

#ifndef VESK_APPLE_CHECK_OBJC_OBJC_H_
#define VESK_APPLE_CHECK_OBJC_OBJC_H_

#include <Availability.h>

// objc/objc.h: BOOL is bool on Apple silicon and signed char on Intel, which
// changes a method's type encoding ("B" against "c"). Without Apple's
// compiler flag the Intel form is taken, the one that needs care.
#if defined(__OBJC_BOOL_IS_BOOL)
#define OBJC_BOOL_IS_BOOL __OBJC_BOOL_IS_BOOL
#elif defined(__arm64__) || defined(__aarch64__)
#define OBJC_BOOL_IS_BOOL 1
#else
#define OBJC_BOOL_IS_BOOL 0
#endif
#if OBJC_BOOL_IS_BOOL
typedef bool BOOL;  // objc/objc.h
#else
typedef signed char BOOL;  // objc/objc.h
#endif
#define YES ((BOOL)1)  // objc/objc.h (__objc_yes under Objective-C)
#define NO ((BOOL)0)   // objc/objc.h

#if !defined(__OBJC__)
typedef struct objc_class* Class;    // objc/objc.h
typedef struct objc_object* id;      // objc/objc.h
#endif
typedef struct objc_selector* SEL;  // objc/objc.h

// objc/objc.h: the null object and class (nullptr under C++11 and later).
#ifndef nil
#define nil nullptr
#endif
#ifndef Nil
#define Nil nullptr
#endif

#define OBJC_ROOT_CLASS __attribute__((objc_root_class))  // objc/objc-api.h
#define OBJC_ARC_UNAVAILABLE \
  __attribute__((unavailable("not available in automatic reference counting mode")))
#define NS_AUTOMATED_REFCOUNT_UNAVAILABLE OBJC_ARC_UNAVAILABLE

#ifdef __cplusplus
extern "C" {
#endif
const char* sel_getName(SEL sel);  // objc/objc.h
SEL sel_registerName(const char* str);  // objc/objc.h
#ifdef __cplusplus
}
#endif

#endif  // VESK_APPLE_CHECK_OBJC_OBJC_H_
