// CFHolder: the owner of the one reference that a CoreFoundation (or
// Security) Create or Copy function hands over; it releases it once, when
// the holder goes. Any thread, as the object itself allows.
//
//   SecCodeRef raw = nullptr;
//   if (SecCodeCopySelf(kSecCSDefaultFlags, &raw) != errSecSuccess) ...
//   CFHolder<SecCodeRef> self(raw);

#ifndef VESK_LEASE_DAEMON_CF_HOLDER_APPLE_H_
#define VESK_LEASE_DAEMON_CF_HOLDER_APPLE_H_

#include <CoreFoundation/CoreFoundation.h>

#include <memory>
#include <type_traits>

namespace vesk {

struct CFReleaser {
  void operator()(CFTypeRef object) const { CFRelease(object); }
};

template <typename Ref>
using CFHolder = std::unique_ptr<std::remove_pointer_t<Ref>, CFReleaser>;

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_CF_HOLDER_APPLE_H_
