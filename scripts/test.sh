#!/usr/bin/env bash
# Installs the dependencies, then builds and runs the whole test suite three
# times: a Release build as packagers make it (build/, -O3), under
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), and the
# threaded tests under ThreadSanitizer (build-tsan/). Every build here treats
# warnings as errors (KITSYNC_WERROR), so a warning that only optimisation
# brings out cannot come back unseen.
# Any sanitizer report fails its test. Then the Windows cross-build is
# tested under Wine (scripts/test-windows.sh, build-win/), and each libFuzzer
# program runs briefly (build-fuzz/, clang); a crash fails the run. The Debian
# package is built, checked with lintian and installed and run in a fresh
# Debian 12 root (scripts/test-package.sh, build-pkg/). The Release
# suite runs last, so the output ends with CTest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

configure_and_build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DKITSYNC_WERROR=ON "$@" > /dev/null
  cmake --build "$dir" "${BUILD_TARGETS[@]}"
}

# The Windows and fuzz builds read this too.
export KITSYNC_WERROR=ON
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

BUILD_TARGETS=()
configure_and_build build -DCMAKE_BUILD_TYPE=Release
configure_and_build build-asan -DKITSYNC_SANITIZE=address,undefined
configure_and_build build-tsan -DKITSYNC_SANITIZE=thread

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
(cd build-asan && ctest --output-on-failure --timeout 300 -j2)
echo "== ThreadSanitizer (threaded tests)"
(cd build-tsan && ctest --output-on-failure --timeout 300 -L threaded --no-tests=ignore)
echo "== Windows build under Wine (scripts/test-windows.sh)"
KITSYNC_LINUX_BUILD=build scripts/test-windows.sh
echo "== Fuzz smoke: every fuzz program for 15 s (scripts/fuzz.sh SECONDS for longer)"
scripts/fuzz.sh 15
echo "== Debian package in a fresh Debian 12 root (scripts/test-package.sh)"
scripts/test-package.sh
echo "== Release build"
(cd build && ctest --output-on-failure --timeout 300 -j2)
