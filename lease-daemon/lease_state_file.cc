// Encoding and decoding of the lease state file through libplist.

#include <plist/plist.h>

#include <cstdlib>
#include <limits>
#include <memory>

#include "lease_state_file.h"

namespace vesk {

namespace {

constexpr char kSleepDisabledKey[] = "SleepDisabled";

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<void, PlistDeleter>;

// True when every value of `dict` is an integer: the root must convert as a
// whole to a dictionary of integers, so one entry of any other type spoils
// it even when "SleepDisabled" itself is fine.
bool allValuesAreIntegers(plist_t dict) {
  plist_dict_iter iter = nullptr;
  plist_dict_new_iter(dict, &iter);
  if (iter == nullptr) return false;
  bool ok = true;
  for (;;) {
    // Without asking for the key: libplist aborts the process on a key with
    // a NUL inside (a UTF-16 key may hold one) when it copies it out.
    plist_t value = nullptr;
    plist_dict_next_item(dict, iter, nullptr, &value);
    if (value == nullptr) break;
    if (plist_get_node_type(value) != PLIST_UINT) {
      ok = false;
      break;
    }
  }
  std::free(iter);
  return ok;
}

}  // namespace

std::optional<std::string> encodeLeaseState(int64_t value) {
  Plist dict(plist_new_dict());
  if (!dict) return std::nullopt;
  // libplist keeps every integer as 64 bits and writes it in the eight-byte
  // (signed) binary form when its top bit is set, so negative values come
  // back unchanged from any reader.
  plist_dict_set_item(dict.get(), kSleepDisabledKey,
                      plist_new_uint(static_cast<uint64_t>(value)));
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(dict.get(), &bytes, &length);
  if (bytes == nullptr) return std::nullopt;
  std::string encoded(bytes, length);
  plist_to_bin_free(bytes);
  return encoded;
}

std::optional<int64_t> decodeLeaseState(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) {
    return std::nullopt;
  }
  plist_t parsed = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &parsed);
  Plist root(parsed);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
    return std::nullopt;
  }
  if (!allValuesAreIntegers(root.get())) return std::nullopt;
  plist_t entry = plist_dict_get_item(root.get(), kSleepDisabledKey);
  if (entry == nullptr) return std::nullopt;
  uint64_t value = 0;
  plist_get_uint_val(entry, &value);
  return static_cast<int64_t>(value);
}

}  // namespace vesk
