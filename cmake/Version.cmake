# The one version of every program, the Debian package and the Windows zip:
# project()'s. Programs read it from the generated ProgramVersion.h by
# linking kitsync_version; debian/changelog must name the same version
# (scripts/test-package.sh compares them).
configure_file(${PROJECT_SOURCE_DIR}/cmake/ProgramVersion.h.in
  ${PROJECT_BINARY_DIR}/generated/ProgramVersion.h @ONLY)
add_library(kitsync_version INTERFACE)
target_include_directories(kitsync_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
