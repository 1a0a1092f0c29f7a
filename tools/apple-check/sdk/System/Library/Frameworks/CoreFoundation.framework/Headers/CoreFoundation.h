// Declaration-only stand-in for the parts of the macOS 13 SDK's
// CoreFoundation framework (<CoreFoundation/CoreFoundation.h>) that the
// Apple code uses, written from Apple's CoreFoundation reference. Each
// declaration names the SDK header it comes from. Nothing here is defined:
// the Linux cross build links against CoreFoundation.tbd beside it.

#ifndef VESK_APPLE_CHECK_COREFOUNDATION_H_
#define VESK_APPLE_CHECK_COREFOUNDATION_H_

#include <MacTypes.h>
#include <stddef.h>
#include <stdint.h>

#include <os/availability.h>

#ifdef __cplusplus
#define CF_EXTERN_C_BEGIN extern "C" {
#define CF_EXTERN_C_END }
#else
#define CF_EXTERN_C_BEGIN
#define CF_EXTERN_C_END
#endif

// CFAvailability.h: CF_ENUM and CF_OPTIONS as the SDK spells them for C++
// and Objective-C++ (fixed underlying types, so a CFIndex* does not convert
// to a CFPropertyListFormat*).
#define __CF_NAMED_ENUM(_type, _name) \
  enum _name : _type _name;           \
  enum _name : _type
#define __CF_ANON_ENUM(_type) enum : _type
#define __CF_ENUM_GET_MACRO(_1, _2, NAME, ...) NAME
#define CF_ENUM(...) \
  __CF_ENUM_GET_MACRO(__VA_ARGS__, __CF_NAMED_ENUM, __CF_ANON_ENUM, )(__VA_ARGS__)
#define CF_OPTIONS(_type, _name) \
  _type _name;                   \
  enum : _type

// CFBase.h: ownership annotations.
#define CF_RETURNS_RETAINED __attribute__((cf_returns_retained))
#define CF_RETURNS_NOT_RETAINED __attribute__((cf_returns_not_retained))
#define CF_CONSUMED __attribute__((cf_consumed))
#define CF_IMPLICIT_BRIDGING_ENABLED
#define CF_IMPLICIT_BRIDGING_DISABLED
#define CF_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define CF_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")

// CFBase.h: toll-free bridging to the Foundation classes.
#if defined(__OBJC__)
#define CF_BRIDGED_TYPE(T) __attribute__((objc_bridge(T)))
#define CF_BRIDGED_MUTABLE_TYPE(T) __attribute__((objc_bridge_mutable(T)))
#else
#define CF_BRIDGED_TYPE(T)
#define CF_BRIDGED_MUTABLE_TYPE(T)
#endif

CF_EXTERN_C_BEGIN
CF_ASSUME_NONNULL_BEGIN

// --- CFBase.h ---
typedef unsigned long CFTypeID;         // CFBase.h
typedef unsigned long CFOptionFlags;    // CFBase.h
typedef unsigned long CFHashCode;       // CFBase.h
typedef signed long CFIndex;            // CFBase.h
typedef const CF_BRIDGED_TYPE(id) void* CFTypeRef;  // CFBase.h
typedef const struct CF_BRIDGED_TYPE(NSString) __CFString* CFStringRef;  // CFBase.h
typedef struct CF_BRIDGED_MUTABLE_TYPE(NSMutableString) __CFString*
    CFMutableStringRef;                 // CFBase.h
typedef const struct CF_BRIDGED_TYPE(id) __CFAllocator* CFAllocatorRef;  // CFBase.h
typedef CFTypeRef CFPropertyListRef;    // CFBase.h
typedef struct {
  CFIndex location;
  CFIndex length;
} CFRange;                              // CFBase.h
typedef const struct CF_BRIDGED_TYPE(NSNull) __CFNull* CFNullRef;  // CFBase.h

extern const CFAllocatorRef kCFAllocatorDefault;  // CFBase.h
extern const CFAllocatorRef kCFAllocatorNull;     // CFBase.h

CFTypeID CFGetTypeID(CFTypeRef cf);                 // CFBase.h
CFTypeRef CFRetain(CFTypeRef cf);                   // CFBase.h
void CFRelease(CFTypeRef cf);                       // CFBase.h
CFIndex CFGetRetainCount(CFTypeRef cf);             // CFBase.h
Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2);      // CFBase.h
CFStringRef _Nullable CFCopyDescription(CFTypeRef cf) CF_RETURNS_RETAINED;  // CFBase.h

// --- CFError.h ---
typedef struct CF_BRIDGED_TYPE(NSError) __CFError* CFErrorRef;  // CFError.h
CFIndex CFErrorGetCode(CFErrorRef err);                         // CFError.h

// --- CFData.h ---
typedef const struct CF_BRIDGED_TYPE(NSData) __CFData* CFDataRef;  // CFData.h
CFTypeID CFDataGetTypeID(void);                                    // CFData.h
CFDataRef _Nullable CFDataCreate(CFAllocatorRef _Nullable allocator,
                                 const UInt8* _Nullable bytes,
                                 CFIndex length) CF_RETURNS_RETAINED;  // CFData.h
CFDataRef _Nullable CFDataCreateWithBytesNoCopy(
    CFAllocatorRef _Nullable allocator, const UInt8* _Nullable bytes,
    CFIndex length, CFAllocatorRef _Nullable bytesDeallocator)
    CF_RETURNS_RETAINED;                                           // CFData.h
CFIndex CFDataGetLength(CFDataRef theData);                        // CFData.h
const UInt8* _Nullable CFDataGetBytePtr(CFDataRef theData);        // CFData.h

// --- CFString.h ---
typedef UInt32 CFStringEncoding;  // CFString.h
typedef CF_ENUM(CFStringEncoding, CFStringBuiltInEncodings){
    kCFStringEncodingMacRoman = 0,
    kCFStringEncodingASCII = 0x0600,
    kCFStringEncodingUTF8 = 0x08000100,
};  // CFString.h
CFTypeID CFStringGetTypeID(void);  // CFString.h
CFStringRef _Nullable CFStringCreateWithCString(
    CFAllocatorRef _Nullable alloc, const char* cStr,
    CFStringEncoding encoding) CF_RETURNS_RETAINED;  // CFString.h
CFStringRef _Nullable CFStringCreateWithBytes(
    CFAllocatorRef _Nullable alloc, const UInt8* bytes, CFIndex numBytes,
    CFStringEncoding encoding,
    Boolean isExternalRepresentation) CF_RETURNS_RETAINED;  // CFString.h
CFIndex CFStringGetLength(CFStringRef theString);           // CFString.h
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length,
                                          CFStringEncoding encoding);  // CFString.h
Boolean CFStringGetCString(CFStringRef theString, char* buffer,
                           CFIndex bufferSize,
                           CFStringEncoding encoding);  // CFString.h
const char* _Nullable CFStringGetCStringPtr(CFStringRef theString,
                                            CFStringEncoding encoding);  // CFString.h
CFIndex CFStringGetBytes(CFStringRef theString, CFRange range,
                         CFStringEncoding encoding, UInt8 lossByte,
                         Boolean isExternalRepresentation,
                         UInt8* _Nullable buffer, CFIndex maxBufLen,
                         CFIndex* _Nullable usedBufLen);  // CFString.h
// CFString.h: CFSTR("...") is a compile-time constant CFString.
#define CFSTR(cStr) ((CFStringRef)__builtin___CFStringMakeConstantString("" cStr ""))

// --- CFNumber.h ---
typedef const struct CF_BRIDGED_TYPE(NSNumber) __CFBoolean* CFBooleanRef;  // CFNumber.h
extern const CFBooleanRef kCFBooleanTrue;   // CFNumber.h
extern const CFBooleanRef kCFBooleanFalse;  // CFNumber.h
CFTypeID CFBooleanGetTypeID(void);          // CFNumber.h
Boolean CFBooleanGetValue(CFBooleanRef boolean);  // CFNumber.h

typedef CF_ENUM(CFIndex, CFNumberType){
    kCFNumberSInt8Type = 1,     kCFNumberSInt16Type = 2,
    kCFNumberSInt32Type = 3,    kCFNumberSInt64Type = 4,
    kCFNumberFloat32Type = 5,   kCFNumberFloat64Type = 6,
    kCFNumberCharType = 7,      kCFNumberShortType = 8,
    kCFNumberIntType = 9,       kCFNumberLongType = 10,
    kCFNumberLongLongType = 11, kCFNumberFloatType = 12,
    kCFNumberDoubleType = 13,   kCFNumberCFIndexType = 14,
    kCFNumberNSIntegerType = 15, kCFNumberCGFloatType = 16,
    kCFNumberMaxType = 16,
};  // CFNumber.h
typedef const struct CF_BRIDGED_TYPE(NSNumber) __CFNumber* CFNumberRef;  // CFNumber.h
CFTypeID CFNumberGetTypeID(void);  // CFNumber.h
CFNumberRef _Nullable CFNumberCreate(CFAllocatorRef _Nullable allocator,
                                     CFNumberType theType,
                                     const void* valuePtr) CF_RETURNS_RETAINED;  // CFNumber.h
CFNumberType CFNumberGetType(CFNumberRef number);  // CFNumber.h
CFIndex CFNumberGetByteSize(CFNumberRef number);   // CFNumber.h
Boolean CFNumberIsFloatType(CFNumberRef number);   // CFNumber.h
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType,
                         void* valuePtr);          // CFNumber.h

// --- CFDictionary.h ---
typedef const void* _Nullable (*CFDictionaryRetainCallBack)(
    CFAllocatorRef _Nullable allocator, const void* value);  // CFDictionary.h
typedef void (*CFDictionaryReleaseCallBack)(CFAllocatorRef _Nullable allocator,
                                            const void* value);  // CFDictionary.h
typedef CFStringRef _Nullable (*CFDictionaryCopyDescriptionCallBack)(
    const void* value);  // CFDictionary.h
typedef Boolean (*CFDictionaryEqualCallBack)(const void* value1,
                                             const void* value2);  // CFDictionary.h
typedef CFHashCode (*CFDictionaryHashCallBack)(const void* value);  // CFDictionary.h
typedef struct {
  CFIndex version;
  CFDictionaryRetainCallBack _Nullable retain;
  CFDictionaryReleaseCallBack _Nullable release;
  CFDictionaryCopyDescriptionCallBack _Nullable copyDescription;
  CFDictionaryEqualCallBack _Nullable equal;
  CFDictionaryHashCallBack _Nullable hash;
} CFDictionaryKeyCallBacks;  // CFDictionary.h
typedef struct {
  CFIndex version;
  CFDictionaryRetainCallBack _Nullable retain;
  CFDictionaryReleaseCallBack _Nullable release;
  CFDictionaryCopyDescriptionCallBack _Nullable copyDescription;
  CFDictionaryEqualCallBack _Nullable equal;
} CFDictionaryValueCallBacks;  // CFDictionary.h
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;      // CFDictionary.h
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;  // CFDictionary.h
typedef void (*CFDictionaryApplierFunction)(const void* key, const void* value,
                                            void* _Nullable context);  // CFDictionary.h
typedef const struct CF_BRIDGED_TYPE(NSDictionary) __CFDictionary*
    CFDictionaryRef;  // CFDictionary.h
typedef struct CF_BRIDGED_MUTABLE_TYPE(NSMutableDictionary) __CFDictionary*
    CFMutableDictionaryRef;  // CFDictionary.h
CFTypeID CFDictionaryGetTypeID(void);  // CFDictionary.h
CFDictionaryRef _Nullable CFDictionaryCreate(
    CFAllocatorRef _Nullable allocator, const void* _Nullable* _Nullable keys,
    const void* _Nullable* _Nullable values, CFIndex numValues,
    const CFDictionaryKeyCallBacks* _Nullable keyCallBacks,
    const CFDictionaryValueCallBacks* _Nullable valueCallBacks)
    CF_RETURNS_RETAINED;  // CFDictionary.h
CFIndex CFDictionaryGetCount(CFDictionaryRef theDict);  // CFDictionary.h
const void* _Nullable CFDictionaryGetValue(CFDictionaryRef theDict,
                                           const void* key);  // CFDictionary.h
Boolean CFDictionaryGetValueIfPresent(
    CFDictionaryRef theDict, const void* key,
    const void* _Nullable* _Nullable value);  // CFDictionary.h
void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict,
                                  const void* _Nullable* _Nullable keys,
                                  const void* _Nullable* _Nullable values);  // CFDictionary.h
void CFDictionaryApplyFunction(CFDictionaryRef theDict,
                               CFDictionaryApplierFunction applier,
                               void* _Nullable context);  // CFDictionary.h

// --- CFPropertyList.h ---
typedef CF_OPTIONS(CFOptionFlags, CFPropertyListMutabilityOptions){
    kCFPropertyListImmutable = 0,
    kCFPropertyListMutableContainers = 1 << 0,
    kCFPropertyListMutableContainersAndLeaves = 1 << 1,
};  // CFPropertyList.h
typedef CF_ENUM(CFIndex, CFPropertyListFormat){
    kCFPropertyListOpenStepFormat = 1,
    kCFPropertyListXMLFormat_v1_0 = 100,
    kCFPropertyListBinaryFormat_v1_0 = 200,
};  // CFPropertyList.h
// CFPropertyList.h, macOS 10.6.
CFPropertyListRef _Nullable CFPropertyListCreateWithData(
    CFAllocatorRef _Nullable allocator, CFDataRef data, CFOptionFlags options,
    CFPropertyListFormat* _Nullable format,
    CFErrorRef _Nullable* _Nullable error) CF_RETURNS_RETAINED;
// CFPropertyList.h, macOS 10.6.
CFDataRef _Nullable CFPropertyListCreateData(
    CFAllocatorRef _Nullable allocator, CFPropertyListRef propertyList,
    CFPropertyListFormat format, CFOptionFlags options,
    CFErrorRef _Nullable* _Nullable error) CF_RETURNS_RETAINED;
Boolean CFPropertyListIsValid(CFPropertyListRef plist,
                              CFPropertyListFormat format);  // CFPropertyList.h

// --- CFURL.h ---
typedef const struct CF_BRIDGED_TYPE(NSURL) __CFURL* CFURLRef;  // CFURL.h
CFURLRef _Nullable CFURLCreateFromFileSystemRepresentation(
    CFAllocatorRef _Nullable allocator, const UInt8* buffer, CFIndex bufLen,
    Boolean isDirectory) CF_RETURNS_RETAINED;  // CFURL.h

CF_ASSUME_NONNULL_END
CF_EXTERN_C_END

#endif  // VESK_APPLE_CHECK_COREFOUNDATION_H_
