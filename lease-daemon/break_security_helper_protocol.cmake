# The XPC protocol header that the daemon and the desktop app share
# (BreakSecurityHelperProtocol.h), and its checks, included by
# lease-daemon/CMakeLists.txt with the tests:
# - on a Mac, break_security_helper_protocol_test reads the methods' type
#   encodings back from the Objective-C runtime;
# - in the Linux cross build for Intel (tools/apple-check), where BOOL would
#   encode differently, the extended type encoding compiled from the header
#   is compared with the one the daemon and the app agree on.

set(VESK_PROTOCOL_HEADER
    ${CMAKE_CURRENT_LIST_DIR}/BreakSecurityHelperProtocol.h)
set(VESK_PROTOCOL_TEST
    ${CMAKE_CURRENT_LIST_DIR}/break_security_helper_protocol_test.mm)

if(CMAKE_CROSSCOMPILING AND APPLE AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  # Part of the Linux cross build for Intel: the header alone, compiled with
  # the real <objc/objc.h>, must carry the agreed type encodings.
  set(encoding_source ${CMAKE_CURRENT_BINARY_DIR}/protocol_encoding.mm)
  file(CONFIGURE OUTPUT ${encoding_source} CONTENT [[
#import "@VESK_PROTOCOL_HEADER@"
Protocol* protocol() { return @protocol(BreakSecurityHelperProtocol); }
]] @ONLY)
  add_library(protocol_encoding OBJECT ${encoding_source})
  find_program(VESK_LLVM_OTOOL NAMES llvm-otool-14 llvm-otool REQUIRED
               HINTS /usr/lib/llvm-14/bin)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/protocol_encoding.checked)
  add_custom_command(OUTPUT ${stamp}
    COMMAND sh ${PROJECT_SOURCE_DIR}/tools/apple-check/protocol-encoding.sh
            ${VESK_LLVM_OTOOL} ${stamp} $<TARGET_OBJECTS:protocol_encoding>
    DEPENDS protocol_encoding $<TARGET_OBJECTS:protocol_encoding>
    COMMENT "Checking the protocol's type encodings on Intel" VERBATIM)
  add_custom_target(protocol_encoding_check ALL DEPENDS ${stamp})
endif()

if(APPLE)
  add_executable(break_security_helper_protocol_test ${VESK_PROTOCOL_TEST})
  vesk_link_apple_frameworks(break_security_helper_protocol_test PRIVATE
    Foundation CoreFoundation)
  target_link_libraries(break_security_helper_protocol_test PRIVATE objc)
  add_test(NAME break_security_helper_protocol
           COMMAND break_security_helper_protocol_test)
endif()
