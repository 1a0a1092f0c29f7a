# The XPC protocol header that the daemon and the desktop app share
# (BreakSecurityHelperProtocol.h), and its checks, included by
# lease-daemon/CMakeLists.txt with the tests:
# - on a Mac, break_security_helper_protocol_test reads the methods' type
#   encodings back from the Objective-C runtime;
# - on Linux, that test (and the header with it) gets the Apple syntax
#   check, and the extended type encoding clang emits for the header on a
#   64-bit Intel target, where BOOL would encode differently, is compared
#   with the one the daemon and the app agree on.

set(VESK_PROTOCOL_HEADER
    ${CMAKE_CURRENT_LIST_DIR}/BreakSecurityHelperProtocol.h)
set(VESK_PROTOCOL_TEST
    ${CMAKE_CURRENT_LIST_DIR}/break_security_helper_protocol_test.mm)

if(CMAKE_CROSSCOMPILING AND APPLE AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  # The header alone is compiled for Intel, with the real <objc/objc.h>, so
  # every method name and type encoding in the object is the protocol's:
  # exactly the two selectors, and no encodings but the plain and the
  # extended one agreed on.
  set(encoding_source ${CMAKE_CURRENT_BINARY_DIR}/protocol_encoding.mm)
  file(CONFIGURE OUTPUT ${encoding_source} CONTENT [[
#import "@VESK_PROTOCOL_HEADER@"
Protocol* protocol() { return @protocol(BreakSecurityHelperProtocol); }
]] @ONLY)
  add_library(protocol_encoding OBJECT ${encoding_source})
  find_program(VESK_LLVM_OTOOL NAMES llvm-otool-14 llvm-otool REQUIRED
               HINTS /usr/lib/llvm-14/bin)
  add_test(NAME apple_protocol_encoding
    COMMAND sh -c [=[
      otool=$1 object=$2
      strings_of() {
        "$otool" -v -s __TEXT "$1" "$object" | sed -n 's/^[0-9a-f]\{8,\}[[:space:]]\{1,\}//p' | sort -u | tr '\n' ' '
      }
      names=$(strings_of __objc_methname)
      types=$(strings_of __objc_methtype)
      [ "$names" = "releaseLeaseWithReply: renewLeaseWithReply: " ] ||
        { echo "methods: $names"; exit 1; }
      [ "$types" = "v24@0:8@?16 v24@0:8@?<v@?B>16 " ] ||
        { echo "type encodings: $types"; exit 1; }]=]
      sh ${VESK_LLVM_OTOOL} $<TARGET_OBJECTS:protocol_encoding>)
  set_tests_properties(apple_protocol_encoding PROPERTIES LABELS cross-build)
endif()

if(APPLE)
  add_executable(break_security_helper_protocol_test ${VESK_PROTOCOL_TEST})
  vesk_link_apple_frameworks(break_security_helper_protocol_test PRIVATE
    Foundation CoreFoundation)
  target_link_libraries(break_security_helper_protocol_test PRIVATE objc)
  add_test(NAME break_security_helper_protocol
           COMMAND break_security_helper_protocol_test)
endif()
