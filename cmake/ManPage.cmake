# vesk_man_page(PAGE SECTION): installs the roff manual PAGE (a path relative
# to the calling folder) to share/man/manSECTION, compressed as Debian
# packages carry manuals (-9n: best compression, no name or time stamp in
# the header, so the same page always gives the same bytes), and adds the
# test man_page_<file name>: the page renders with neither a groff nor a man
# warning (`ctest -R man_page` checks them all).
function(vesk_man_page page section)
  get_filename_component(source ${page} ABSOLUTE)
  get_filename_component(name ${page} NAME)
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND gzip -9n -c ${source} > ${compressed}
    DEPENDS ${source} VERBATIM)
  add_custom_target(man-${name} ALL DEPENDS ${compressed})
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  if(VESK_BUILD_TESTS)
    add_test(NAME man_page_${name}
             COMMAND sh -c [[
               out=$(man -l --warnings -E UTF-8 "$1" 2>&1 >/dev/null) &&
                 [ -z "$out" ] || { printf '%s\n' "$out"; exit 1; }]]
                     sh ${compressed})
  endif()
endfunction()
