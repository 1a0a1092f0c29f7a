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

vesk_apple_syntax_check(NAME lease_daemon_protocol
  SOURCES ${VESK_PROTOCOL_TEST})

if(VESK_APPLE_CHECK_ENABLED AND CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  # The header alone is compiled, so every method name and type encoding in
  # the output is the protocol's: exactly the two selectors, and no
  # encodings but the plain and the extended one agreed on.
  add_test(NAME apple_protocol_encoding
    COMMAND sh -c [[
      header=$1 ir=$2
      shift 2
      printf '#import "%s"\nProtocol* p() { return @protocol(BreakSecurityHelperProtocol); }\n' "$header" |
        "$@" -S -emit-llvm -o - - > "$ir" || exit 1
      strings_of() {
        sed -n "s/^@OBJC_METH_VAR_$1_[.0-9]* = .* c\"\(.*\)\\\\00\".*/\1/p" "$ir" | sort -u
      }
      names=$(strings_of NAME | tr '\n' ' ')
      types=$(strings_of TYPE | tr '\n' ' ')
      [ "$names" = "releaseLeaseWithReply: renewLeaseWithReply: " ] ||
        { echo "methods: $names"; exit 1; }
      [ "$types" = "v24@0:8@?16 v24@0:8@?<v@?B>16 " ] ||
        { echo "type encodings: $types"; exit 1; }]]
      sh ${VESK_PROTOCOL_HEADER} ${CMAKE_CURRENT_BINARY_DIR}/protocol_encoding.ll
         ${VESK_APPLE_CHECK_CLANGXX} ${VESK_APPLE_CHECK_OBJCXX_FLAGS}
         ${VESK_APPLE_CHECK_FLAGS})
endif()

if(APPLE)
  add_executable(break_security_helper_protocol_test ${VESK_PROTOCOL_TEST})
  vesk_link_apple_frameworks(break_security_helper_protocol_test PRIVATE
    Foundation)
  target_link_libraries(break_security_helper_protocol_test PRIVATE objc)
  add_test(NAME break_security_helper_protocol
           COMMAND break_security_helper_protocol_test)
endif()
