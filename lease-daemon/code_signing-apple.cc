// Code identity through the Security framework's code-signing services.

#include "code_signing-apple.h"

#include <CoreFoundation/CoreFoundation.h>

#include <cstddef>
#include <utility>

#include "app_identifier.h"
#include "client_requirement.h"

namespace vesk {

namespace {

// A team identifier's length; the requirement text ends in one and a quote.
constexpr size_t kTeamLength = 10;

// The UTF-8 bytes of `string`, all of them (a NUL inside included, so that
// nothing is cut short silently).
std::optional<std::string> utf8(CFStringRef string) {
  const CFRange whole = {0, CFStringGetLength(string)};
  CFIndex size = 0;
  if (CFStringGetBytes(string, whole, kCFStringEncodingUTF8, 0, false, nullptr,
                       0, &size) != whole.length) {
    return std::nullopt;
  }
  std::string bytes(static_cast<size_t>(size), '\0');
  CFIndex written = 0;
  if (CFStringGetBytes(string, whole, kCFStringEncodingUTF8, 0, false,
                       reinterpret_cast<UInt8*>(bytes.data()), size,
                       &written) != whole.length ||
      written != size) {
    return std::nullopt;
  }
  return bytes;
}

// The guest of the system's root of trust that `attribute` = `value` names.
CFHolder<SecCodeRef> guestCode(CFStringRef attribute, CFTypeRef value) {
  const void* keys[] = {attribute};
  const void* values[] = {value};
  CFHolder<CFDictionaryRef> attributes(CFDictionaryCreate(
      kCFAllocatorDefault, keys, values, 1, &kCFTypeDictionaryKeyCallBacks,
      &kCFTypeDictionaryValueCallBacks));
  if (!attributes) return nullptr;
  SecCodeRef rawGuest = nullptr;
  OSStatus status = SecCodeCopyGuestWithAttributes(
      nullptr, attributes.get(), kSecCSDefaultFlags, &rawGuest);
  CFHolder<SecCodeRef> guest(rawGuest);
  if (status != errSecSuccess) return nullptr;
  return guest;
}

}  // namespace

std::optional<std::string> ownSigningTeam() {
  SecCodeRef rawSelf = nullptr;
  OSStatus status = SecCodeCopySelf(kSecCSDefaultFlags, &rawSelf);
  CFHolder<SecCodeRef> self(rawSelf);
  if (status != errSecSuccess || !self) return std::nullopt;
  // The signing information of code whose validity was not checked first
  // may be partial; unsigned or broken code has no team to speak of.
  if (SecCodeCheckValidity(self.get(), kSecCSDefaultFlags, nullptr) !=
      errSecSuccess) {
    return std::nullopt;
  }
  SecStaticCodeRef rawStatic = nullptr;
  status = SecCodeCopyStaticCode(self.get(), kSecCSDefaultFlags, &rawStatic);
  CFHolder<SecStaticCodeRef> staticCode(rawStatic);
  if (status != errSecSuccess || !staticCode) return std::nullopt;
  // Without kSecCSSigningInformation the dictionary has no team entry.
  CFDictionaryRef rawInformation = nullptr;
  status = SecCodeCopySigningInformation(
      staticCode.get(), kSecCSSigningInformation, &rawInformation);
  CFHolder<CFDictionaryRef> information(rawInformation);
  if (status != errSecSuccess || !information ||
      CFGetTypeID(information.get()) != CFDictionaryGetTypeID()) {
    return std::nullopt;
  }
  const void* team =
      CFDictionaryGetValue(information.get(), kSecCodeInfoTeamIdentifier);
  if (team == nullptr || CFGetTypeID(team) != CFStringGetTypeID()) {
    return std::nullopt;
  }
  return utf8(static_cast<CFStringRef>(team));
}

std::optional<CodeRequirement> compileRequirement(const std::string& text) {
  // Only the exact text that the daemon itself forms is a requirement: the
  // one clientRequirementText() makes of the team it ends in.
  if (text.size() < kTeamLength + 1) return std::nullopt;
  CodeRequirement requirement{
      kAppIdentifier, text.substr(text.size() - kTeamLength - 1, kTeamLength)};
  if (requirementText(requirement) != text) return std::nullopt;
  // And the Security framework must take it.
  if (!compileRequirementText(text)) return std::nullopt;
  return requirement;
}

std::optional<std::string> requirementText(const CodeRequirement& requirement) {
  if (requirement.identifier != kAppIdentifier) return std::nullopt;
  return clientRequirementText(requirement.team);
}

std::optional<CompiledRequirement> compileRequirementText(
    const std::string& text) {
  CFHolder<CFStringRef> string(CFStringCreateWithBytes(
      kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
      static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
  if (!string) return std::nullopt;
  SecRequirementRef compiled = nullptr;
  OSStatus status = SecRequirementCreateWithString(
      string.get(), kSecCSDefaultFlags, &compiled);
  CFHolder<SecRequirementRef> holder(compiled);
  if (status != errSecSuccess || !holder) return std::nullopt;
  return CompiledRequirement{text, std::move(holder)};
}

CFHolder<SecCodeRef> guestCodeForAuditToken(const audit_token_t& token) {
  CFHolder<CFDataRef> data(CFDataCreate(kCFAllocatorDefault,
                                        reinterpret_cast<const UInt8*>(&token),
                                        sizeof token));
  if (!data) return nullptr;
  return guestCode(kSecGuestAttributeAudit, data.get());
}

CFHolder<SecCodeRef> guestCodeForProcess(pid_t pid) {
  if (pid <= 0) return nullptr;
  int32_t value = pid;
  CFHolder<CFNumberRef> number(
      CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &value));
  if (!number) return nullptr;
  return guestCode(kSecGuestAttributePid, number.get());
}

bool codeSatisfies(SecCodeRef code, SecRequirementRef requirement) {
  return code != nullptr && requirement != nullptr &&
         SecCodeCheckValidity(code, kSecCSDefaultFlags, requirement) ==
             errSecSuccess;
}

}  // namespace vesk
