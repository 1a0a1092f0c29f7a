# CMake toolchain file: the project's Apple branch, cross-built on Linux for
# a real macOS target with zig 0.11.0 (clang, libc++, Apple's own macOS 13
# libc headers and libSystem link stubs). The configuration is the one a Mac
# runs (APPLE is true, the Apple file lists and frameworks), so the two
# cannot drift; only the compiler and the SDK differ.
#
#   cmake -S . -B build-apple-arm64 \
#     -DCMAKE_TOOLCHAIN_FILE=tools/apple-check/zig-macos.cmake \
#     -DVESK_ZIG=/path/to/zig -DVESK_APPLE_ARCH=arm64 \
#     [-DCMAKE_FIND_ROOT_PATH=<prefix with GoogleTest and Boost's headers>]
#
# VESK_APPLE_ARCH is arm64 or x86_64. Foundation, Security, CoreFoundation
# and libobjc, which zig lacks, come from sdk/: declaration headers written
# from Apple's documentation and .tbd link stubs listing the symbols the
# programs use. zig's libc++ is linked into each program; a Mac links the
# system's /usr/lib/libc++.1.dylib instead.

set(CMAKE_SYSTEM_NAME Darwin)
# Darwin 22 is macOS 13, the deployment target's system.
set(CMAKE_SYSTEM_VERSION 22.0)
# try_compile() projects read this file again and need the same inputs.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VESK_ZIG VESK_APPLE_ARCH)

if(NOT VESK_ZIG)
  message(FATAL_ERROR "zig-macos.cmake: set VESK_ZIG to zig 0.11.0")
endif()
if(VESK_APPLE_ARCH STREQUAL "arm64")
  set(zig_arch aarch64)
elseif(VESK_APPLE_ARCH STREQUAL "x86_64")
  set(zig_arch x86_64)
else()
  message(FATAL_ERROR "zig-macos.cmake: VESK_APPLE_ARCH is arm64 or x86_64, "
                      "not \"${VESK_APPLE_ARCH}\"")
endif()
set(CMAKE_SYSTEM_PROCESSOR ${VESK_APPLE_ARCH})
# CMake's compiler probe links with -Wl,-v, which zig refuses, so the probe
# learns nothing; both Mac architectures are 64-bit.
set(CMAKE_SIZEOF_VOID_P 8)
# zig spells the version in full: "macos.13" is refused.
set(zig_target ${zig_arch}-macos.13.0)
set(CMAKE_C_COMPILER ${VESK_ZIG} cc -target ${zig_target})
set(CMAKE_CXX_COMPILER ${VESK_ZIG} c++ -target ${zig_target})
set(CMAKE_OBJCXX_COMPILER ${VESK_ZIG} c++ -target ${zig_target})
# LLVM's archiver writes the Darwin archive format for Mach-O objects.
find_program(CMAKE_AR NAMES llvm-ar-14 llvm-ar REQUIRED
             HINTS /usr/lib/llvm-14/bin)
find_program(CMAKE_INSTALL_NAME_TOOL NAMES llvm-install-name-tool-14
             llvm-install-name-tool REQUIRED HINTS /usr/lib/llvm-14/bin)
find_program(CMAKE_RANLIB NAMES llvm-ranlib-14 llvm-ranlib REQUIRED
             HINTS /usr/lib/llvm-14/bin)
# The deployment target is the -target's version; no SDK path or -arch.
set(CMAKE_OSX_SYSROOT "" CACHE PATH "")
set(CMAKE_OSX_ARCHITECTURES "" CACHE STRING "")

set(sdk ${CMAKE_CURRENT_LIST_DIR}/sdk)
# - zig turns Apple's availability markup in libc++ off; on, it refuses
#   what the deployment target's libc++ lacks.
# - zig adds -ObjC++ after CMake's -x objective-c++; the unused argument
#   would be an error under -Werror.
# - The frameworks' headers are system headers, as in the SDK.
set(flags "-U_LIBCPP_HAS_NO_VENDOR_AVAILABILITY_ANNOTATIONS"
          "-Wno-unused-command-line-argument"
          "-iframework ${sdk}/System/Library/Frameworks")
string(JOIN " " flags ${flags})
set(CMAKE_C_FLAGS_INIT "${flags}")
set(CMAKE_CXX_FLAGS_INIT "${flags}")
set(CMAKE_OBJCXX_FLAGS_INIT "${flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-F ${sdk}/System/Library/Frameworks -L ${sdk}/usr/lib")

# Libraries and headers (GoogleTest, Boost) come from CMAKE_FIND_ROOT_PATH
# only, never from the Linux system; programs from the Linux system.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Test programs are Mach-O: list their tests when ctest runs (on a Mac),
# not after the build.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
