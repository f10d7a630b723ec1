# kitsync_library(<name> SOURCES <file>... [DEPENDS <target>...]
#                 [PRIVATE_DEPENDS <target>...])
#
# One subsystem as the static library kitsync_<name>, built from the folder
# that calls this. Its headers are included as "<name>/Header.h", and only
# through its own include folder: build/include/<name>/ holds a single
# entry, <name>, that links to the calling folder. That folder is exported
# PUBLIC, so a library sees the headers of what it links to (DEPENDS) and of
# nothing else: an include that goes the wrong way, or that names a
# subsystem the library does not declare, fails to compile.
function(kitsync_library name)
  cmake_parse_arguments(LIB "" "" "SOURCES;DEPENDS;PRIVATE_DEPENDS" ${ARGN})
  set(target kitsync_${name})
  add_library(${target} ${LIB_SOURCES})
  kitsync_export_headers(${target} ${name} ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${LIB_DEPENDS} PRIVATE ${LIB_PRIVATE_DEPENDS})
endfunction()

# kitsync_export_headers(<target> <name> <folder>): <folder>'s headers as
# "<name>/Header.h" to <target> and everything that links to it.
function(kitsync_export_headers target name folder)
  set(include_root ${PROJECT_BINARY_DIR}/include/${name})
  file(MAKE_DIRECTORY ${include_root})
  file(CREATE_LINK ${folder} ${include_root}/${name} SYMBOLIC)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${include_root})
  else()
    target_include_directories(${target} PUBLIC ${include_root})
  endif()
endfunction()
