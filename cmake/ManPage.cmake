# vesk_gzip(SOURCE NAME OUT): compresses SOURCE (a path relative to the
# calling folder) to NAME in the calling folder's build directory, as part
# of `all`, the way Debian packages carry manuals and changelogs (-9n: best
# compression, no name or time stamp in the header, so the same file always
# gives the same bytes). OUT receives the compressed file's path.
function(vesk_gzip source name out)
  get_filename_component(source ${source} ABSOLUTE)
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/${name})
  add_custom_command(OUTPUT ${compressed}
    COMMAND gzip -9n -c ${source} > ${compressed}
    DEPENDS ${source} VERBATIM)
  add_custom_target(gzip-${name} ALL DEPENDS ${compressed})
  set(${out} ${compressed} PARENT_SCOPE)
endfunction()

# How a manual page is checked: GNU man-db (Linux) renders it through groff
# and reports both programs' warnings; macOS's man has no such options, but
# its mandoc lints a page. Neither: no check. The page is checked where the
# build runs, so a cross build leaves it to the host's own build.
set(VESK_MAN_CHECK "")
if(NOT CMAKE_CROSSCOMPILING)
  find_program(VESK_MAN man)
  find_program(VESK_MANDOC mandoc)
  if(VESK_MAN)
    execute_process(COMMAND ${VESK_MAN} --help OUTPUT_VARIABLE man_help
                    ERROR_QUIET)
  endif()
  if(man_help MATCHES "--warnings")
    set(VESK_MAN_CHECK man-db)
  elseif(VESK_MANDOC)
    set(VESK_MAN_CHECK mandoc)
  endif()
endif()

# vesk_man_page(PAGE SECTION): installs the roff manual PAGE (a path relative
# to the calling folder) to share/man/manSECTION, compressed by vesk_gzip(),
# and, where a checker exists (above), adds the test man_page_<file name>:
# the page renders without a warning (`ctest -R man_page` checks them all).
function(vesk_man_page page section)
  get_filename_component(name ${page} NAME)
  vesk_gzip(${page} ${name}.gz compressed)
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  if(NOT VESK_BUILD_TESTS)
    return()
  endif()
  if(VESK_MAN_CHECK STREQUAL "man-db")
    add_test(NAME man_page_${name}
             COMMAND sh -c [[
               out=$(man -l --warnings -E UTF-8 "$1" 2>&1 >/dev/null) &&
                 [ -z "$out" ] || { printf '%s\n' "$out"; exit 1; }]]
                     sh ${compressed})
  elseif(VESK_MAN_CHECK STREQUAL "mandoc")
    get_filename_component(source ${page} ABSOLUTE)
    add_test(NAME man_page_${name}
             COMMAND ${VESK_MANDOC} -T lint -W warning ${source})
  endif()
endfunction()
