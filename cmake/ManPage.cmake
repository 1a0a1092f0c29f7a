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

# vesk_man_page(PAGE SECTION): installs the roff manual PAGE (a path relative
# to the calling folder) to share/man/manSECTION, compressed by vesk_gzip(),
# and adds the test man_page_<file name>: the page renders with neither a
# groff nor a man warning (`ctest -R man_page` checks them all). @NAME@ in
# the page is replaced by the CMake variable NAME (a platform's own text).
function(vesk_man_page page section)
  get_filename_component(name ${page} NAME)
  get_filename_component(page ${page} ABSOLUTE)
  set(configured ${CMAKE_CURRENT_BINARY_DIR}/man/${name})
  configure_file(${page} ${configured} @ONLY)
  vesk_gzip(${configured} ${name}.gz compressed)
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  if(VESK_BUILD_TESTS)
    add_test(NAME man_page_${name}
             COMMAND sh -c [[
               out=$(man -l --warnings -E UTF-8 "$1" 2>&1 >/dev/null) &&
                 [ -z "$out" ] || { printf '%s\n' "$out"; exit 1; }]]
                     sh ${compressed})
  endif()
endfunction()
