// Declaration-only stand-in for the parts of the macOS 13 SDK's
// <dispatch/dispatch.h> (libdispatch, Grand Central Dispatch) that the Apple
// code uses, written from Apple's Dispatch reference and the dispatch_*(3)
// manual pages. Each declaration names the SDK header it comes from.
//
// As in the SDK, dispatch objects are Objective-C objects under
// Objective-C (ARC owns them: dispatch_release is refused there) and C++
// classes derived from dispatch_object_s in C++, where the owner calls
// dispatch_release.

#ifndef VESK_APPLE_CHECK_DISPATCH_H_
#define VESK_APPLE_CHECK_DISPATCH_H_

#include <stddef.h>
#include <stdint.h>

#include <Availability.h>

#if defined(__OBJC__)
#include <objc/NSObject.h>
#endif

#define DISPATCH_NOTHROW __attribute__((__nothrow__))   // dispatch/base.h
#define DISPATCH_NORETURN __attribute__((__noreturn__))  // dispatch/base.h

// --- os/object.h and dispatch/object.h: the object types ---
#if defined(__OBJC__)
#define OS_OBJECT_USE_OBJC 1
@protocol OS_dispatch_object <NSObject>
@end
typedef NSObject<OS_dispatch_object>* dispatch_object_t;  // dispatch/object.h
#define DISPATCH_DECL(name)                     \
  @protocol OS_##name <OS_dispatch_object> \
  @end                                          \
  typedef NSObject<OS_##name>* name##_t
#define DISPATCH_DECL_SUBCLASS(name, base) \
  @protocol OS_##name <OS_##base>     \
  @end                                     \
  typedef NSObject<OS_##name>* name##_t
#else
#define OS_OBJECT_USE_OBJC 0
// dispatch/object.h (C++): objects are opaque and never copied.
typedef struct dispatch_object_s {
 private:
  dispatch_object_s();
  ~dispatch_object_s();
  dispatch_object_s(const dispatch_object_s&);
  void operator=(const dispatch_object_s&);
}* dispatch_object_t;
#define DISPATCH_DECL(name) \
  typedef struct name##_s : public dispatch_object_s { \
  }* name##_t
#define DISPATCH_DECL_SUBCLASS(name, base) \
  typedef struct name##_s : public base##_s { \
  }* name##_t
#endif

// Object declarations stay outside extern "C": Objective-C declarations
// may only appear at global scope.
DISPATCH_DECL(dispatch_queue);                         // dispatch/queue.h
DISPATCH_DECL_SUBCLASS(dispatch_queue_serial, dispatch_queue);  // dispatch/queue.h
DISPATCH_DECL_SUBCLASS(dispatch_queue_main, dispatch_queue_serial);  // dispatch/queue.h
DISPATCH_DECL(dispatch_queue_attr);                    // dispatch/queue.h
DISPATCH_DECL(dispatch_source);                        // dispatch/source.h

#ifdef __cplusplus
extern "C" {
#endif

#pragma clang assume_nonnull begin

typedef void (*dispatch_function_t)(void* _Nullable);  // dispatch/base.h
#if defined(__BLOCKS__)
typedef void (^dispatch_block_t)(void);  // dispatch/object.h
#endif

// --- dispatch/object.h ---
void dispatch_retain(dispatch_object_t object) DISPATCH_NOTHROW;  // dispatch/object.h
#if __has_feature(objc_arc)
// os/object.h: under ARC the object is released by ARC; a call is an error.
void dispatch_release(dispatch_object_t object) DISPATCH_NOTHROW
    __attribute__((unavailable("not available in automatic reference counting mode")));
#else
void dispatch_release(dispatch_object_t object) DISPATCH_NOTHROW;  // dispatch/object.h
#endif
void* _Nullable dispatch_get_context(dispatch_object_t object) DISPATCH_NOTHROW;  // dispatch/object.h
void dispatch_set_context(dispatch_object_t object,
                          void* _Nullable context) DISPATCH_NOTHROW;  // dispatch/object.h
void dispatch_set_finalizer_f(dispatch_object_t object,
                              dispatch_function_t _Nullable finalizer)
    DISPATCH_NOTHROW;  // dispatch/object.h
// dispatch/object.h: starts an inactive object (a new source), macOS 10.12.
void dispatch_activate(dispatch_object_t object) DISPATCH_NOTHROW
    API_AVAILABLE(macos(10.12));
void dispatch_suspend(dispatch_object_t object) DISPATCH_NOTHROW;  // dispatch/object.h
void dispatch_resume(dispatch_object_t object) DISPATCH_NOTHROW;   // dispatch/object.h

// --- dispatch/time.h ---
typedef uint64_t dispatch_time_t;  // dispatch/time.h
#define DISPATCH_TIME_NOW (0ull)        // dispatch/time.h
#define DISPATCH_TIME_FOREVER (~0ull)   // dispatch/time.h
#define NSEC_PER_SEC 1000000000ull      // dispatch/time.h
#define NSEC_PER_MSEC 1000000ull        // dispatch/time.h
#define USEC_PER_SEC 1000000ull         // dispatch/time.h
#define NSEC_PER_USEC 1000ull           // dispatch/time.h
// dispatch/time.h: `when` plus `delta` nanoseconds on the clock that stops
// while the machine sleeps.
dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta) DISPATCH_NOTHROW;

// --- dispatch/queue.h ---
#define DISPATCH_QUEUE_SERIAL NULL  // dispatch/queue.h
#define DISPATCH_CURRENT_QUEUE_LABEL NULL  // dispatch/queue.h
// dispatch/queue.h
dispatch_queue_t dispatch_queue_create(const char* _Nullable label,
                                       dispatch_queue_attr_t _Nullable attr)
    DISPATCH_NOTHROW;
const char* dispatch_queue_get_label(dispatch_queue_t _Nullable queue)
    DISPATCH_NOTHROW;  // dispatch/queue.h
void dispatch_async_f(dispatch_queue_t queue, void* _Nullable context,
                      dispatch_function_t work) DISPATCH_NOTHROW;  // dispatch/queue.h
void dispatch_sync_f(dispatch_queue_t queue, void* _Nullable context,
                     dispatch_function_t work) DISPATCH_NOTHROW;   // dispatch/queue.h
#if defined(__BLOCKS__)
void dispatch_async(dispatch_queue_t queue, dispatch_block_t block) DISPATCH_NOTHROW;  // dispatch/queue.h
void dispatch_sync(dispatch_queue_t queue, dispatch_block_t block) DISPATCH_NOTHROW;   // dispatch/queue.h
#endif
// dispatch/queue.h: per-queue values, the way to ask "am I on this queue?".
void dispatch_queue_set_specific(dispatch_queue_t queue, const void* key,
                                 void* _Nullable context,
                                 dispatch_function_t _Nullable destructor)
    DISPATCH_NOTHROW;
void* _Nullable dispatch_queue_get_specific(dispatch_queue_t queue,
                                            const void* key) DISPATCH_NOTHROW;  // dispatch/queue.h
void* _Nullable dispatch_get_specific(const void* key) DISPATCH_NOTHROW;  // dispatch/queue.h
// dispatch/queue.h: the main queue (an inline function over a global object
// in the SDK).
dispatch_queue_main_t dispatch_get_main_queue(void) DISPATCH_NOTHROW;
// dispatch/queue.h: runs the main queue's work; never returns.
void dispatch_main(void) DISPATCH_NOTHROW DISPATCH_NORETURN;

// --- dispatch/source.h ---
typedef const struct dispatch_source_type_s* dispatch_source_type_t;  // dispatch/source.h
extern const struct dispatch_source_type_s _dispatch_source_type_timer;  // dispatch/source.h
extern const struct dispatch_source_type_s _dispatch_source_type_signal;  // dispatch/source.h
#define DISPATCH_SOURCE_TYPE_TIMER (&_dispatch_source_type_timer)    // dispatch/source.h
#define DISPATCH_SOURCE_TYPE_SIGNAL (&_dispatch_source_type_signal)  // dispatch/source.h
typedef unsigned long dispatch_source_timer_flags_t;  // dispatch/source.h
#define DISPATCH_TIMER_STRICT 0x1                     // dispatch/source.h
// dispatch/source.h: sources are created inactive.
dispatch_source_t dispatch_source_create(dispatch_source_type_t type,
                                         uintptr_t handle, uintptr_t mask,
                                         dispatch_queue_t _Nullable queue)
    DISPATCH_NOTHROW;
// dispatch/source.h: the handler is called with the source's context as it
// was when the handler was set.
void dispatch_source_set_event_handler_f(dispatch_source_t source,
                                         dispatch_function_t _Nullable handler)
    DISPATCH_NOTHROW;
void dispatch_source_set_cancel_handler_f(dispatch_source_t source,
                                          dispatch_function_t _Nullable handler)
    DISPATCH_NOTHROW;  // dispatch/source.h
#if defined(__BLOCKS__)
void dispatch_source_set_event_handler(dispatch_source_t source,
                                       dispatch_block_t _Nullable handler)
    DISPATCH_NOTHROW;  // dispatch/source.h
void dispatch_source_set_cancel_handler(dispatch_source_t source,
                                        dispatch_block_t _Nullable handler)
    DISPATCH_NOTHROW;  // dispatch/source.h
#endif
void dispatch_source_cancel(dispatch_source_t source) DISPATCH_NOTHROW;  // dispatch/source.h
intptr_t dispatch_source_testcancel(dispatch_source_t source) DISPATCH_NOTHROW;  // dispatch/source.h
// dispatch/source.h: first fire at `start`, then every `interval`
// nanoseconds, allowing `leeway` nanoseconds of delay.
void dispatch_source_set_timer(dispatch_source_t source, dispatch_time_t start,
                               uint64_t interval, uint64_t leeway) DISPATCH_NOTHROW;

#pragma clang assume_nonnull end

#ifdef __cplusplus
}
#endif

#endif  // VESK_APPLE_CHECK_DISPATCH_H_
