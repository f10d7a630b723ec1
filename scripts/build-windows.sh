#!/usr/bin/env bash
# Cross-builds the Windows programs and their tests with Debian's mingw-w64:
# build-win/kitsync-server.exe, kitsync-query.exe, kitsync-inspect.exe, kitsync-sync.exe and
# the test programs, all statically linked. Installs what it needs (the
# mingw compilers, mingw zlib, Wine for the tests), fetches Debian's zlib
# source for minizip, and builds minizip and GoogleTest for the target under
# build-win/_deps (never committed).
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${KITSYNC_WIN_BUILD:-build-win}
DEPS="$PWD/$BUILD_DIR/_deps"
PREFIX="$DEPS/prefix"
ZLIB_VERSION=1:1.2.13.dfsg-1  # the main suite's zlib; the security suite's source is not served everywhere
TRIPLE=x86_64-w64-mingw32

scripts/install-deps.sh g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev \
  binutils-mingw-w64-x86-64 googletest wine wine64 bzip2

# zlib's source package carries minizip, which Debian does not build for
# mingw. apt-get source needs a deb-src entry; add one for the main suite
# with the mirror of the existing entries when there is none.
have_source_entry() {
  grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/
}
fetch_zlib_source() {
  mkdir -p "$DEPS/src"
  if ls "$DEPS"/src/zlib_*.orig.tar.* > /dev/null 2>&1; then
    return
  fi
  if ! have_source_entry; then
    # The mirror may be named in either format, or in neither file a
    # machine happens to have: no match must not end the script.
    local uri
    uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
      grep -oE 'https?://[^ ]*/debian/?( |$)' | head -1 | tr -d ' ' || true)
    uri=${uri:-http://deb.debian.org/debian}
    printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$uri" > /etc/apt/sources.list.d/debian-src.sources
    apt-get update -qq
  fi
  (cd "$DEPS/src" && apt-get source --download-only -qq "zlib=$ZLIB_VERSION" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
  ls "$DEPS"/src/zlib_*.orig.tar.* > /dev/null
}

build_minizip() {
  if [ -f "$PREFIX/lib/libminizip.a" ]; then
    return
  fi
  fetch_zlib_source
  local work="$DEPS/minizip"
  rm -rf "$work" && mkdir -p "$work"
  tar -xf "$DEPS"/src/zlib_*.orig.tar.* -C "$work" --strip-components=1 --wildcards '*/contrib/minizip/*'
  local src="$work/contrib/minizip"
  # unzip for the programs; zip for the tests that make archives.
  for f in ioapi unzip zip; do
    "$TRIPLE-gcc-posix" -O2 -w -I"$src" -c "$src/$f.c" -o "$work/$f.o"
  done
  mkdir -p "$PREFIX/lib/pkgconfig" "$PREFIX/include/minizip"
  "$TRIPLE-ar" rcs "$PREFIX/lib/libminizip.a" "$work"/ioapi.o "$work"/unzip.o "$work"/zip.o
  cp "$src"/ioapi.h "$src"/unzip.h "$src"/zip.h "$src"/crypt.h "$PREFIX/include/minizip/"
  # No -lz: found by name it would be the import library of zlib1.dll; the
  # project links the static zlib itself (the toolchain file names it).
  cat > "$PREFIX/lib/pkgconfig/minizip.pc" <<PC
prefix=$PREFIX
Name: minizip
Description: zip archive reading and writing from zlib's contrib, built for Windows
Version: 1.2.13
Requires:
Libs: -L\${prefix}/lib -lminizip
Cflags: -I\${prefix}/include -I\${prefix}/include/minizip
PC
}

build_googletest() {
  if [ -f "$PREFIX/lib/cmake/GTest/GTestConfig.cmake" ]; then
    return
  fi
  cmake -S /usr/src/googletest -B "$DEPS/googletest" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DKITSYNC_WIN_DEPS="$PREFIX" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_GMOCK=OFF > /dev/null
  cmake --build "$DEPS/googletest" -j2 > /dev/null
  cmake --install "$DEPS/googletest" > /dev/null
}

build_minizip
build_googletest

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
  -DKITSYNC_WIN_DEPS="$PREFIX" -DKITSYNC_WERROR="${KITSYNC_WERROR:-OFF}" > /dev/null
cmake --build "$BUILD_DIR" -j2

# Statically linked: nothing beyond the DLLs that come with Windows.
for program in kitsync-server kitsync-query kitsync-inspect kitsync-sync; do
  exe="$BUILD_DIR/$program.exe"
  [ -f "$exe" ] || { echo "missing $exe" >&2; exit 1; }
  foreign=$("$TRIPLE-objdump" -p "$exe" | awk '/DLL Name:/ {print tolower($3)}' \
    | grep -vxE 'kernel32\.dll|ws2_32\.dll|wininet\.dll|msvcrt\.dll|user32\.dll|advapi32\.dll|shell32\.dll|api-ms-win-.*' || true)
  if [ -n "$foreign" ]; then
    echo "$exe needs DLLs that Windows does not ship: $foreign" >&2
    exit 1
  fi
done
# The operator's download: the .exe files, the sample kitsync.ini and a
# README.txt, in kitsync-VERSION-windows-x64.zip (CPack's ZIP generator).
(cd "$BUILD_DIR" && cpack -G ZIP > /dev/null)
zip_file=$(ls "$BUILD_DIR"/kitsync-*-windows-x64.zip)
echo "Windows programs in $BUILD_DIR/: kitsync-server.exe kitsync-query.exe kitsync-inspect.exe kitsync-sync.exe; zip: $zip_file"
