// Declaration-only stand-in for the macOS 13 SDK's <objc/NSObject.h>: the
// root class and the NSObject protocol, as far as the Apple code and the
// other headers of this folder need them.

#ifndef VESK_APPLE_CHECK_OBJC_NSOBJECT_H_
#define VESK_APPLE_CHECK_OBJC_NSOBJECT_H_

#include <objc/objc.h>
#include <objc/runtime.h>

#ifdef __OBJC__

typedef unsigned long NSUInteger;  // objc/NSObjCRuntime.h (64-bit)
typedef long NSInteger;            // objc/NSObjCRuntime.h (64-bit)
typedef struct _NSZone NSZone;     // objc/NSObjCRuntime.h

@class NSString;
@class NSMethodSignature;

#pragma clang assume_nonnull begin

// objc/NSObject.h
@protocol NSObject
- (BOOL)isEqual:(id)object;
@property(readonly) NSUInteger hash;
@property(readonly) Class superclass;
- (Class)class;
- (instancetype)self;
- (BOOL)isKindOfClass:(Class)aClass;
- (BOOL)isMemberOfClass:(Class)aClass;
- (BOOL)conformsToProtocol:(Protocol*)aProtocol;
- (BOOL)respondsToSelector:(SEL)aSelector;
- (id)performSelector:(SEL)aSelector;
- (instancetype)retain OBJC_ARC_UNAVAILABLE;
- (oneway void)release OBJC_ARC_UNAVAILABLE;
- (instancetype)autorelease OBJC_ARC_UNAVAILABLE;
- (NSUInteger)retainCount OBJC_ARC_UNAVAILABLE;
@property(readonly, copy) NSString* description;
@end

// objc/NSObject.h
OBJC_ROOT_CLASS
@interface NSObject <NSObject> {
  Class isa;
}
+ (void)load;
+ (void)initialize;
- (instancetype)init;
+ (instancetype)new;
+ (instancetype)alloc;
- (void)dealloc;
+ (Class)class;
+ (BOOL)instancesRespondToSelector:(SEL)aSelector;
+ (BOOL)conformsToProtocol:(Protocol*)protocol;
@end

#pragma clang assume_nonnull end

#endif  // __OBJC__

#endif  // VESK_APPLE_CHECK_OBJC_NSOBJECT_H_
