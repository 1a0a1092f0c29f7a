// Declaration-only stand-in for the parts of the macOS 13 SDK's Security
// framework (<Security/Security.h>) that the Apple code uses: Code Signing
// Services, written from Apple's reference for SecCode, SecStaticCode and
// SecRequirement. Each declaration names the SDK header it comes from.

#ifndef VESK_APPLE_CHECK_SECURITY_H_
#define VESK_APPLE_CHECK_SECURITY_H_

#include <CoreFoundation/CoreFoundation.h>

CF_EXTERN_C_BEGIN
CF_ASSUME_NONNULL_BEGIN

// --- SecBase.h ---
enum {
  errSecSuccess = 0,          // SecBase.h
  errSecParam = -50,          // SecBase.h
  errSecCSUnsigned = -67062,  // CSCommon.h
  errSecCSReqFailed = -67050, // CSCommon.h
  errSecCSNoSuchCode = -67065,  // CSCommon.h
};
CFStringRef _Nullable SecCopyErrorMessageString(OSStatus status,
                                                void* _Nullable reserved)
    CF_RETURNS_RETAINED;  // SecBase.h

// --- CSCommon.h ---
typedef struct CF_BRIDGED_TYPE(id) __SecCode* SecCodeRef;               // CSCommon.h
typedef const struct CF_BRIDGED_TYPE(id) __SecCode* SecStaticCodeRef;  // CSCommon.h
typedef struct CF_BRIDGED_TYPE(id) __SecRequirement* SecRequirementRef;  // CSCommon.h
typedef CF_OPTIONS(uint32_t, SecCSFlags){
    kSecCSDefaultFlags = 0,
    kSecCSConsiderExpiration = 1U << 31,
    kSecCSEnforceRevocationChecks = 1 << 30,
    kSecCSNoNetworkAccess = 1 << 29,
    kSecCSReportProgress = 1 << 28,
    kSecCSCheckTrustedAnchors = 1 << 27,
    kSecCSQuickCheck = 1 << 26,
    kSecCSApplyEmbeddedPolicy = 1 << 25,
};  // CSCommon.h
typedef CF_OPTIONS(uint32_t, SecCodeSignatureFlags){
    kSecCodeSignatureHost = 0x0001,
    kSecCodeSignatureAdhoc = 0x0002,
    kSecCodeSignatureForceHard = 0x0100,
    kSecCodeSignatureForceKill = 0x0200,
    kSecCodeSignatureForceExpiration = 0x0400,
    kSecCodeSignatureRestrict = 0x0800,
    kSecCodeSignatureEnforcement = 0x1000,
    kSecCodeSignatureLibraryValidation = 0x2000,
    kSecCodeSignatureRuntime = 0x10000,
    kSecCodeSignatureLinkerSigned = 0x20000,
};  // CSCommon.h

// --- SecCode.h ---
CFTypeID SecCodeGetTypeID(void);  // SecCode.h
// SecCode.h: the code object of the calling process.
OSStatus SecCodeCopySelf(SecCSFlags flags,
                         SecCodeRef* _Nonnull CF_RETURNS_RETAINED self);
// SecCode.h: the on-disk code a running code object was started from.
OSStatus SecCodeCopyStaticCode(
    SecCodeRef code, SecCSFlags flags,
    SecStaticCodeRef* _Nonnull CF_RETURNS_RETAINED staticCode);
// SecCode.h: a running guest of `host` (NULL: the system's root of trust)
// picked by attributes such as kSecGuestAttributeAudit or
// kSecGuestAttributePid.
OSStatus SecCodeCopyGuestWithAttributes(
    SecCodeRef _Nullable host, CFDictionaryRef _Nullable attributes,
    SecCSFlags flags, SecCodeRef* _Nonnull CF_RETURNS_RETAINED guest);
// SecCode.h: the dynamic validity of running code, optionally against a
// requirement.
OSStatus SecCodeCheckValidity(SecCodeRef code, SecCSFlags flags,
                              SecRequirementRef _Nullable requirement);
OSStatus SecCodeCheckValidityWithErrors(
    SecCodeRef code, SecCSFlags flags, SecRequirementRef _Nullable requirement,
    CFErrorRef _Nullable* _Nullable errors);  // SecCode.h
// SecCode.h: the signing information dictionary; which keys it holds depends
// on the flags (the team identifier needs kSecCSSigningInformation).
OSStatus SecCodeCopySigningInformation(
    SecStaticCodeRef code, SecCSFlags flags,
    CFDictionaryRef _Nullable* _Nonnull CF_RETURNS_RETAINED information);
// SecCode.h: flags of SecCodeCopySigningInformation.
CF_ENUM(uint32_t){
    kSecCSInternalInformation = 1 << 0,
    kSecCSSigningInformation = 1 << 1,
    kSecCSRequirementInformation = 1 << 2,
    kSecCSDynamicInformation = 1 << 3,
    kSecCSContentInformation = 1 << 4,
    kSecCSSkipResourceDirectory = 1 << 5,
    kSecCSCalculateCMSDigest = 1 << 6,
};
extern const CFStringRef kSecGuestAttributeCanonical;  // SecCode.h
extern const CFStringRef kSecGuestAttributeHash;       // SecCode.h
extern const CFStringRef kSecGuestAttributeMachPort;   // SecCode.h
extern const CFStringRef kSecGuestAttributePid;        // SecCode.h, a CFNumber
extern const CFStringRef kSecGuestAttributeAudit;      // SecCode.h, CFData of audit_token_t
extern const CFStringRef kSecGuestAttributeDynamicCode;  // SecCode.h
extern const CFStringRef kSecCodeInfoIdentifier;       // SecCode.h
extern const CFStringRef kSecCodeInfoFlags;            // SecCode.h
extern const CFStringRef kSecCodeInfoFormat;           // SecCode.h
extern const CFStringRef kSecCodeInfoMainExecutable;   // SecCode.h
extern const CFStringRef kSecCodeInfoStatus;           // SecCode.h
extern const CFStringRef kSecCodeInfoTeamIdentifier;   // SecCode.h, macOS 10.9

// --- SecStaticCode.h ---
CFTypeID SecStaticCodeGetTypeID(void);  // SecStaticCode.h
OSStatus SecStaticCodeCreateWithPath(
    CFURLRef path, SecCSFlags flags,
    SecStaticCodeRef* _Nonnull CF_RETURNS_RETAINED staticCode);  // SecStaticCode.h
OSStatus SecStaticCodeCheckValidity(
    SecStaticCodeRef staticCode, SecCSFlags flags,
    SecRequirementRef _Nullable requirement);  // SecStaticCode.h

// --- SecRequirement.h ---
CFTypeID SecRequirementGetTypeID(void);  // SecRequirement.h
// SecRequirement.h: compiles requirement text ("anchor apple generic and
// certificate leaf[subject.OU] = TEAM").
OSStatus SecRequirementCreateWithString(
    CFStringRef text, SecCSFlags flags,
    SecRequirementRef* _Nonnull CF_RETURNS_RETAINED requirement);
OSStatus SecRequirementCreateWithStringAndErrors(
    CFStringRef text, SecCSFlags flags, CFErrorRef _Nullable* _Nullable errors,
    SecRequirementRef* _Nonnull CF_RETURNS_RETAINED requirement);  // SecRequirement.h
OSStatus SecRequirementCopyString(
    SecRequirementRef requirement, SecCSFlags flags,
    CFStringRef* _Nonnull CF_RETURNS_RETAINED text);  // SecRequirement.h

CF_ASSUME_NONNULL_END
CF_EXTERN_C_END

#endif  // VESK_APPLE_CHECK_SECURITY_H_
