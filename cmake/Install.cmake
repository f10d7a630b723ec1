# What `cmake --install` puts where. On Linux: the programs in bin/, a man
# page for each in share/man/man1/ (made from the program's own --help by
# help2man, so it cannot drift from it), the commented sample kitsync.ini in
# share/doc/kitsync/ and the systemd template unit. The Windows build
# installs the .exe files, the sample kitsync.ini and README.txt into one
# flat folder, which CPack zips as kitsync-VERSION-windows-x64.zip.
include(GNUInstallDirs)

set(kitsync_programs kitsync-server kitsync-query kitsync-inspect)
if(TARGET kitsync-sync)
  list(APPEND kitsync_programs kitsync-sync)
endif()
set(kitsync_packaging ${PROJECT_SOURCE_DIR}/packaging)

if(WIN32)
  install(TARGETS ${kitsync_programs} RUNTIME DESTINATION .)
  install(FILES ${kitsync_packaging}/kitsync.ini DESTINATION .)
  install(FILES ${kitsync_packaging}/windows-readme.txt DESTINATION . RENAME README.txt)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME kitsync)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_FILE_NAME kitsync-${PROJECT_VERSION}-windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
  return()
endif()

install(TARGETS ${kitsync_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${kitsync_packaging}/kitsync.ini DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kitsync)

# Debian 12 keeps units in /lib/systemd/system; debian/rules says so.
set(KITSYNC_SYSTEMD_UNIT_DIR ${CMAKE_INSTALL_LIBDIR}/systemd/system CACHE STRING
  "where the systemd unit is installed (relative to the prefix, or absolute)")
configure_file(${kitsync_packaging}/kitsync-server@.service.in ${PROJECT_BINARY_DIR}/kitsync-server@.service @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kitsync-server@.service DESTINATION ${KITSYNC_SYSTEMD_UNIT_DIR})

find_program(HELP2MAN help2man)
if(NOT HELP2MAN)
  message(STATUS "help2man not found: no man pages (apt-get install help2man)")
  return()
endif()
set(kitsync-server_summary "serve a game server's add-on catalogue to its clients")
set(kitsync-query_summary "show or check the add-on catalogue of a Kitsync server")
set(kitsync-inspect_summary "show what a package archive adds to the catalogue")
set(kitsync-sync_summary "bring a game folder in line with a Kitsync server's catalogue")
set(man_pages)
foreach(program ${kitsync_programs})
  set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${HELP2MAN} --no-info --section=1 --name=${${program}_summary}
      --output=${page} $<TARGET_FILE:${program}>
    VERBATIM
    DEPENDS ${program}
    COMMENT "Making the man page of ${program}")
  list(APPEND man_pages ${page})
endforeach()
add_custom_target(kitsync_man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
