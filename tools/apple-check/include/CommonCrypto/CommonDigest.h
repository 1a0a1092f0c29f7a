// Declaration-only stand-in for the SHA-256 part of the macOS 13 SDK's
// <CommonCrypto/CommonDigest.h> (libSystem's libcommonCrypto), written from
// the CC_SHA256(3cc) manual page. The SHA-2 functions are not deprecated.

#ifndef VESK_APPLE_CHECK_COMMONDIGEST_H_
#define VESK_APPLE_CHECK_COMMONDIGEST_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t CC_LONG;  // CommonDigest.h: lengths are 32 bits

#define CC_SHA256_DIGEST_LENGTH 32  // CommonDigest.h
#define CC_SHA256_BLOCK_BYTES 64    // CommonDigest.h

typedef struct CC_SHA256state_st {
  CC_LONG count[2];
  CC_LONG hash[8];
  CC_LONG wbuf[16];
} CC_SHA256_CTX;  // CommonDigest.h

int CC_SHA256_Init(CC_SHA256_CTX* c);                                // CommonDigest.h
int CC_SHA256_Update(CC_SHA256_CTX* c, const void* data, CC_LONG len);  // CommonDigest.h
int CC_SHA256_Final(unsigned char* md, CC_SHA256_CTX* c);            // CommonDigest.h
unsigned char* CC_SHA256(const void* data, CC_LONG len, unsigned char* md);  // CommonDigest.h

#ifdef __cplusplus
}
#endif

#endif  // VESK_APPLE_CHECK_COMMONDIGEST_H_
