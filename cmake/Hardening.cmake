# The hardening a Debian 12 package gets from `dpkg-buildflags` with
# DEB_BUILD_MAINT_OPTIONS=hardening=+all, for every target of the build:
#
#   -fstack-protector-strong          stack canaries in functions with arrays
#   -D_FORTIFY_SOURCE=2               checked string and memory calls (needs
#                                     optimisation, so not in Debug builds)
#   -Wformat -Werror=format-security  no format string that is not a literal
#   -Wdate-time                       no __DATE__ or __TIME__ (reproducibility)
#   -ffile-prefix-map=SOURCE=.        no build folder paths in the binaries
#   position-independent executables  (address space layout randomisation)
#   -Wl,-z,relro -Wl,-z,now           read-only relocations, resolved at start
#
# The Apple build takes what applies to Mach-O (stack protector, fortified
# calls, format checks, PIE, which is the platform's default); relro and
# immediate binding are ELF notions. Sanitizer and fuzzing builds leave out
# _FORTIFY_SOURCE: their own checked calls replace the fortified ones.
include_guard(GLOBAL)

add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security
                    -Wdate-time "-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.")
if(NOT VESK_SANITIZE AND NOT VESK_FUZZ)
  # A compiler that fortifies by default would otherwise warn about the
  # redefinition, which -Werror turns into an error.
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()

if(NOT APPLE)
  add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()

# vesk_strip_comment_on_install(PATH... COMPONENT <component>): after the
# install step of <component>, removes the .comment section (the compiler's
# version strings) from each installed program PATH, given relative to the
# install prefix, as Debian's dh_strip does. ELF only; the Apple linker
# writes no such section.
function(vesk_strip_comment_on_install)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "COMPONENT" "")
  if(APPLE OR NOT CMAKE_OBJCOPY)
    return()
  endif()
  foreach(path IN LISTS arg_UNPARSED_ARGUMENTS)
    install(CODE "
      set(program \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${path}\")
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment \"\${program}\"
                      RESULT_VARIABLE rc)
      if(NOT rc EQUAL 0)
        message(FATAL_ERROR \"objcopy could not remove .comment from \${program}\")
      endif()
    " COMPONENT ${arg_COMPONENT})
  endforeach()
endfunction()
