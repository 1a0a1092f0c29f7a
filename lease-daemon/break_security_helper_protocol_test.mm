// The XPC protocol as the Objective-C runtime describes it to NSXPC: both
// methods present, required, and with the extended type encoding the daemon
// and the desktop app agree on. A plain program (no test framework): it
// prints each mismatch and exits 1 when there was one.
//
// The expected encodings are the same on Apple silicon and on Intel: the
// reply's flag is declared as a C bool, which encodes as "B" on both, while
// BOOL would encode as "c" on Intel and break the agreement there. The
// Intel run of this test keeps the header from going back to BOOL (on
// Apple silicon the two are the same type).

#import <Foundation/Foundation.h>
#include <objc/runtime.h>

#include <cstdio>
#include <cstring>

#include "BreakSecurityHelperProtocol.h"

// Exported by libobjc (NSXPCInterface reads the block signatures through
// it) but not declared in the public headers: the full type encoding of a
// protocol method, block parameter types included; null when the method is
// not in the protocol.
extern "C" const char* _protocol_getMethodTypeEncoding(Protocol* protocol,
                                                       SEL selector,
                                                       BOOL isRequiredMethod,
                                                       BOOL isInstanceMethod);

namespace {

int failures = 0;

void expectText(const char* what, const char* actual, const char* expected) {
  if (actual != nullptr && std::strcmp(actual, expected) == 0) return;
  std::fprintf(stderr, "%s: got \"%s\", expected \"%s\"\n", what,
               actual != nullptr ? actual : "(none)", expected);
  ++failures;
}

}  // namespace

int main() {
  Protocol* protocol = @protocol(BreakSecurityHelperProtocol);
  expectText("protocol name", protocol_getName(protocol),
             "BreakSecurityHelperProtocol");

  struct Method {
    SEL selector;
    const char* name;
  };
  const Method methods[] = {
      {@selector(renewLeaseWithReply:), "renewLeaseWithReply:"},
      {@selector(releaseLeaseWithReply:), "releaseLeaseWithReply:"},
  };
  for (const Method& method : methods) {
    const objc_method_description description = protocol_getMethodDescription(
        protocol, method.selector, /*isRequiredMethod=*/YES,
        /*isInstanceMethod=*/YES);
    expectText(method.name,
               description.name != nullptr ? sel_getName(description.name)
                                           : nullptr,
               method.name);
    expectText(method.name, description.types, "v24@0:8@?16");
    expectText(method.name,
               _protocol_getMethodTypeEncoding(protocol, method.selector,
                                               /*isRequiredMethod=*/YES,
                                               /*isInstanceMethod=*/YES),
               "v24@0:8@?<v@?B>16");
  }

  // NSXPC accepts the protocol as an interface (it raises, and so ends this
  // program, on a method it cannot carry).
  NSXPCInterface* interface =
      [NSXPCInterface interfaceWithProtocol:protocol];
  if (interface.protocol != protocol) {
    std::fprintf(stderr, "NSXPCInterface does not carry the protocol\n");
    ++failures;
  }

  expectText("Mach service name", BreakSecurityHelperMachServiceName.UTF8String,
             "com.vesk.Vesk.break-security");
  return failures == 0 ? 0 : 1;
}
