// Encoding and decoding of the lease state file through CoreFoundation.

#include <CoreFoundation/CoreFoundation.h>

#include <cstddef>

#include "cf_holder-apple.h"
#include "lease_state_file.h"

namespace vesk {

namespace {

CFStringRef sleepDisabledKey() { return CFSTR("SleepDisabled"); }

// An integer, as the file stores it: a CFNumber of an integer type. Booleans
// are CFBoolean, a type of their own, so they fail the type check like
// strings or dates; reals are CFNumbers and need the second test.
bool isInteger(const void* value) {
  return value != nullptr && CFGetTypeID(value) == CFNumberGetTypeID() &&
         !CFNumberIsFloatType(static_cast<CFNumberRef>(value));
}

// True when every value of `dict` is an integer: the root must convert as a
// whole to a dictionary of integers, so one entry of any other type spoils
// it even when "SleepDisabled" itself is fine.
bool allValuesAreIntegers(CFDictionaryRef dict) {
  bool all = true;
  CFDictionaryApplyFunction(
      dict,
      [](const void*, const void* value, void* context) {
        if (!isInteger(value)) *static_cast<bool*>(context) = false;
      },
      &all);
  return all;
}

}  // namespace

std::optional<std::string> encodeLeaseState(int64_t value) {
  CFHolder<CFNumberRef> number(
      CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &value));
  if (!number) return std::nullopt;
  const void* keys[] = {sleepDisabledKey()};
  const void* values[] = {number.get()};
  CFHolder<CFDictionaryRef> dict(CFDictionaryCreate(
      kCFAllocatorDefault, keys, values, 1, &kCFTypeDictionaryKeyCallBacks,
      &kCFTypeDictionaryValueCallBacks));
  if (!dict) return std::nullopt;
  CFHolder<CFDataRef> data(
      CFPropertyListCreateData(kCFAllocatorDefault, dict.get(),
                               kCFPropertyListBinaryFormat_v1_0, 0, nullptr));
  if (!data) return std::nullopt;
  const UInt8* bytes = CFDataGetBytePtr(data.get());
  CFIndex length = CFDataGetLength(data.get());
  if (bytes == nullptr || length <= 0) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(bytes),
                     static_cast<std::size_t>(length));
}

std::optional<int64_t> decodeLeaseState(std::string_view bytes) {
  // A state file is at most a few KiB; the bound only keeps the length
  // inside CFIndex.
  if (bytes.empty() || bytes.size() > (std::size_t{1} << 30)) {
    return std::nullopt;
  }
  CFHolder<CFDataRef> data(CFDataCreate(
      kCFAllocatorDefault, reinterpret_cast<const UInt8*>(bytes.data()),
      static_cast<CFIndex>(bytes.size())));
  if (!data) return std::nullopt;
  CFPropertyListFormat format = kCFPropertyListOpenStepFormat;
  CFHolder<CFPropertyListRef> root(
      CFPropertyListCreateWithData(kCFAllocatorDefault, data.get(),
                                   kCFPropertyListImmutable, &format, nullptr));
  if (!root) return std::nullopt;
  // CoreFoundation also reads the old OpenStep text form, which is not a
  // property list in the file's sense (and not what any other reader of the
  // file accepts).
  if (format != kCFPropertyListBinaryFormat_v1_0 &&
      format != kCFPropertyListXMLFormat_v1_0) {
    return std::nullopt;
  }
  if (CFGetTypeID(root.get()) != CFDictionaryGetTypeID()) return std::nullopt;
  CFDictionaryRef dict = static_cast<CFDictionaryRef>(root.get());
  if (!allValuesAreIntegers(dict)) return std::nullopt;
  const void* entry = CFDictionaryGetValue(dict, sleepDisabledKey());
  if (entry == nullptr) return std::nullopt;
  // Fails for an integer beyond 64 signed bits (a property list can hold
  // unsigned 64-bit values), which no saved value can be.
  int64_t value = 0;
  if (!CFNumberGetValue(static_cast<CFNumberRef>(entry), kCFNumberSInt64Type,
                        &value)) {
    return std::nullopt;
  }
  return value;
}

}  // namespace vesk
