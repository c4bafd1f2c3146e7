# kova_install_command(name): installs the command and its manual page. The
# page is made at build time by help2man from the command's own --help and
# --version, plus the hand-written sections (exit status, examples) in
# <name>.h2m beside the CMakeLists.txt that calls this.
include(GNUInstallDirs)

option(KOVA_MANPAGES "Make the commands' manual pages with help2man" ON)
if(KOVA_MANPAGES)
  find_program(HELP2MAN help2man REQUIRED)
  find_program(GZIP gzip REQUIRED)
endif()

function(kova_install_command name)
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(NOT KOVA_MANPAGES)
    return()
  endif()
  set(include ${CMAKE_CURRENT_SOURCE_DIR}/${name}.h2m)
  set(page ${PROJECT_BINARY_DIR}/man/${name}.1)
  # Compressed the way Debian ships manual pages: best ratio, no name or time.
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${HELP2MAN} --no-info --include=${include} --output=${page} $<TARGET_FILE:${name}>
    COMMAND ${GZIP} -9nf ${page}
    DEPENDS ${name} ${include}
    COMMENT "Making the manual page of ${name}"
    VERBATIM)
  add_custom_target(${name}-manpage ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
