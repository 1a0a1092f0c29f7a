// Declaration-only stand-in for the audit-token accessors of the macOS 13
// SDK's <bsm/libbsm.h> (libbsm, macOS 10.7) and the au_asid_t of
// <bsm/audit.h>.

#ifndef VESK_APPLE_CHECK_BSM_LIBBSM_H_
#define VESK_APPLE_CHECK_BSM_LIBBSM_H_

#include <mach/message.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef pid_t au_asid_t;  // bsm/audit.h

pid_t audit_token_to_pid(audit_token_t atoken);   // bsm/libbsm.h
uid_t audit_token_to_euid(audit_token_t atoken);  // bsm/libbsm.h
uid_t audit_token_to_ruid(audit_token_t atoken);  // bsm/libbsm.h
int audit_token_to_pidversion(audit_token_t atoken);  // bsm/libbsm.h

#ifdef __cplusplus
}
#endif

#endif  // VESK_APPLE_CHECK_BSM_LIBBSM_H_
