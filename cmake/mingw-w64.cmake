# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix threads
# variant, which std::thread and GoogleTest need). Programs link statically,
# so they need no DLL beyond the system's own.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# scripts/build-windows.sh prepares the target's zlib, minizip and GoogleTest
# under KITSYNC_WIN_DEPS (default: build-win/_deps/prefix) and calls this.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triple}-windres)

if(NOT KITSYNC_WIN_DEPS)
  set(KITSYNC_WIN_DEPS "${CMAKE_BINARY_DIR}/_deps/prefix")
endif()
set(KITSYNC_WIN_DEPS "${KITSYNC_WIN_DEPS}" CACHE PATH "target libraries built for Windows")
# The compiler checks read this file again in a scratch project of their
# own, whose binary folder is elsewhere: hand the path on to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KITSYNC_WIN_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triple} ${KITSYNC_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# zlib: only the static archive, never the import library of zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)
set(ZLIB_LIBRARY /usr/${mingw_triple}/lib/libz.a CACHE FILEPATH "")
set(ZLIB_INCLUDE_DIR /usr/${mingw_triple}/include CACHE PATH "")

# pkg-config must see the target's minizip, not the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} "${KITSYNC_WIN_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The test programs run under Wine, also when CTest lists their cases.
find_program(KITSYNC_WINE wine)
if(KITSYNC_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KITSYNC_WINE})
endif()
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
