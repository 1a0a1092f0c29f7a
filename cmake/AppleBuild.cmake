# The Apple build's settings, included by the root CMakeLists.txt on macOS
# after project().
#
# - Objective-C++ (.mm) is compiled with ARC; blocks are on by default.
# - The shipped programs link only what every Mac has: the frameworks in
#   VESK_APPLE_FRAMEWORKS and libSystem (otool -L lists nothing outside
#   /usr/lib and /System/Library). Link them with
#     vesk_link_apple_frameworks(<target> <PUBLIC|PRIVATE|INTERFACE> <name>...)
# - macOS has no static executables and its linker takes no GNU ld options,
#   so -static*, -Wl,--... and -Wl,-z are Linux-only, and so are prebuilt
#   static archives (Homebrew's, for instance, would tie the binaries to one
#   build machine's libraries): at the end of the configuration the shipped
#   programs' link lines are checked for them, so a Linux-only choice that
#   leaks into the Apple branch fails here rather than at link time or,
#   worse, on a user's Mac.

enable_language(OBJCXX)
set(CMAKE_OBJCXX_STANDARD 20)
set(CMAKE_OBJCXX_STANDARD_REQUIRED ON)
set(CMAKE_OBJCXX_EXTENSIONS OFF)
add_compile_options($<$<COMPILE_LANGUAGE:OBJCXX>:-fobjc-arc>)

set(VESK_APPLE_FRAMEWORKS Foundation Security CoreFoundation)

function(vesk_link_apple_frameworks target scope)
  foreach(framework IN LISTS ARGN)
    if(NOT framework IN_LIST VESK_APPLE_FRAMEWORKS)
      message(FATAL_ERROR "${target}: ${framework} is not one of the "
        "frameworks the shipped programs may link (${VESK_APPLE_FRAMEWORKS})")
    endif()
    target_link_libraries(${target} ${scope} "-framework ${framework}")
  endforeach()
endfunction()

set(VESK_APPLE_SHIPPED_PROGRAMS
    VeskAgentBridge VeskBreakSecurityHelper vesk-lease-client vesk-agent-hooks)

# Collects into `out` the link items of `target` and, through the targets it
# links, of everything it pulls in.
function(_vesk_apple_link_items target out)
  set(items)
  set(pending ${target})
  set(seen)
  while(pending)
    list(POP_FRONT pending current)
    if(current IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${current})
    foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES LINK_OPTIONS
                     INTERFACE_LINK_OPTIONS)
      get_target_property(values ${current} ${property})
      if(NOT values)
        continue()
      endif()
      foreach(value IN LISTS values)
        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" value "${value}")
        if(TARGET ${value})
          get_target_property(aliased ${value} ALIASED_TARGET)
          if(aliased)
            set(value ${aliased})
          endif()
          get_target_property(imported ${value} IMPORTED)
          if(imported)
            list(APPEND items "${value}")
          else()
            list(APPEND pending ${value})
          endif()
        else()
          list(APPEND items "${value}")
        endif()
      endforeach()
    endforeach()
  endwhile()
  set(${out} ${items} PARENT_SCOPE)
endfunction()

function(_vesk_apple_link_guard)
  foreach(program IN LISTS VESK_APPLE_SHIPPED_PROGRAMS)
    if(NOT TARGET ${program})
      continue()
    endif()
    _vesk_apple_link_items(${program} items)
    foreach(item IN LISTS items)
      if(item MATCHES "^-static|^-Wl,--|^-Wl,-z,|^-Wl,-Bstatic|\\.a$")
        message(FATAL_ERROR "${program} links \"${item}\", which is for "
          "Linux only: on macOS the programs link the system's frameworks "
          "and libSystem, and nothing else")
      endif()
      if(TARGET ${item})
        get_target_property(type ${item} TYPE)
        get_target_property(location ${item} IMPORTED_LOCATION)
        if(type STREQUAL "STATIC_LIBRARY" OR location MATCHES "\\.a$")
          message(FATAL_ERROR "${program} links the prebuilt static library "
            "${item}: on macOS third-party code is compiled in from source")
        endif()
      endif()
    endforeach()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR}
               CALL _vesk_apple_link_guard)
