# The Apple syntax check: on Linux, every file the Apple build compiles is
# checked by clang against declaration-only headers written from Apple's
# documentation (include/), with a forced prelude (prelude.h) that turns
# glibc into a stand-in for Darwin's C library: Darwin-only names declared,
# Linux-only names poisoned, __APPLE__ defined and the Linux macros removed.
# Objective-C++ files are checked with ARC and blocks. Nothing is linked or
# run: the check catches calls that macOS does not have, misspelled or
# mistyped Apple APIs and Objective-C that ARC refuses; a Mac remains the
# authority on behaviour.
#
#   vesk_apple_syntax_check(NAME <name> [TARGET <target>] SOURCES <file>...)
#
# adds one CTest test per source, "apple_syntax.<name>.<file>". SOURCES are
# relative to the calling directory and should be the very list the
# program's Apple branch builds from, so the two cannot drift. TARGET lends
# its include directories and compile definitions (the program's own
# library). Tests are added only on Linux with tests on, outside sanitizer
# and fuzzing builds (the plain build's suite covers them), and only when a
# clang++ is installed.

set(VESK_APPLE_CHECK_DIR ${CMAKE_CURRENT_LIST_DIR})
# How clang reads a file as the Apple build would: C++20 with the prelude
# and the declarations (VESK_APPLE_CHECK_FLAGS) and, for Objective-C++, the
# Apple build's dialect (VESK_APPLE_CHECK_OBJCXX_FLAGS, which go first).
# The protocol's type-encoding check compiles with the same flags.
set(VESK_APPLE_CHECK_FLAGS -std=c++20
    -include ${VESK_APPLE_CHECK_DIR}/prelude.h
    -isystem ${VESK_APPLE_CHECK_DIR}/include)
set(VESK_APPLE_CHECK_OBJCXX_FLAGS -x objective-c++ -fobjc-arc -fblocks
    -fobjc-runtime=macosx-13.0)
set(VESK_APPLE_CHECK_ENABLED OFF)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND VESK_BUILD_TESTS
   AND NOT VESK_SANITIZE AND NOT VESK_FUZZ)
  find_program(VESK_APPLE_CHECK_CLANGXX
    NAMES clang++ clang++-19 clang++-18 clang++-17 clang++-16 clang++-15
          clang++-14)
  if(VESK_APPLE_CHECK_CLANGXX)
    set(VESK_APPLE_CHECK_ENABLED ON)
  else()
    message(STATUS "No clang++: the Apple syntax check is left out")
  endif()
endif()

# The compiler's own include directories must not be passed again with -I:
# that would reorder them against the C++ library's and break its
# #include_next chain.
set(_vesk_implicit_includes /usr/include /usr/local/include
    ${CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES})
list(REMOVE_DUPLICATES _vesk_implicit_includes)
list(TRANSFORM _vesk_implicit_includes REPLACE "([][+.*()^$?|\\\\])" "\\\\\\1")
list(JOIN _vesk_implicit_includes "|" _vesk_implicit_regex)
set(VESK_APPLE_CHECK_IMPLICIT_REGEX "^(${_vesk_implicit_regex})/?$")

function(vesk_apple_syntax_check)
  if(NOT VESK_APPLE_CHECK_ENABLED)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 0 ARG "" "NAME;TARGET" "SOURCES")
  if(NOT ARG_NAME OR NOT ARG_SOURCES)
    message(FATAL_ERROR "vesk_apple_syntax_check: NAME and SOURCES needed")
  endif()

  set(common -fsyntax-only -Wall -Wextra -Werror ${VESK_APPLE_CHECK_FLAGS})
  if(ARG_TARGET)
    set(dirs "$<FILTER:$<TARGET_PROPERTY:${ARG_TARGET},INCLUDE_DIRECTORIES>,EXCLUDE,${VESK_APPLE_CHECK_IMPLICIT_REGEX}>")
    set(defs "$<TARGET_PROPERTY:${ARG_TARGET},COMPILE_DEFINITIONS>")
    list(APPEND common
      "$<$<BOOL:${dirs}>:-I$<JOIN:${dirs},$<SEMICOLON>-I>>"
      "$<$<BOOL:${defs}>:-D$<JOIN:${defs},$<SEMICOLON>-D>>")
  endif()

  foreach(source IN LISTS ARG_SOURCES)
    get_filename_component(path ${source} ABSOLUTE
                           BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    get_filename_component(file ${source} NAME)
    if(file MATCHES "\\.mm$")
      set(language ${VESK_APPLE_CHECK_OBJCXX_FLAGS})
    else()
      set(language -x c++)
    endif()
    add_test(NAME apple_syntax.${ARG_NAME}.${file}
      COMMAND ${VESK_APPLE_CHECK_CLANGXX} ${language} ${common} ${path}
      COMMAND_EXPAND_LISTS)
  endforeach()
endfunction()

# The declarations themselves, used the way the Apple layer uses them.
vesk_apple_syntax_check(NAME declarations
  SOURCES ${VESK_APPLE_CHECK_DIR}/declarations_check.mm)
