#!/usr/bin/env bash
# Measures how much of src/ and tools/ the plain test suite runs: builds in build-cov/
# at -O0 with --coverage, runs the whole CTest suite there, and prints the
# line and branch coverage of src/ and tools/ that gcovr reports, then the size of the
# suite against the code (non-blank lines of tests/ against src/ + tools/).
# Arguments are passed on to gcovr, e.g. --html-details cov.html for the
# figures of every file.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh gcovr

# Non-blank lines of the sources, build lists and scripts under the folders.
nonblank_lines() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.txt' -o -name '*.py' -o -name '*.sh' \) \
    -print0 | xargs -0 cat | grep -c '[^[:space:]]'
}

dir=build-cov
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_FLAGS="-O0 --coverage" -DCMAKE_CXX_FLAGS="-O0 --coverage" \
  -DCMAKE_EXE_LINKER_FLAGS="--coverage" > /dev/null
cmake --build "$dir" -j2
# Counts from an earlier run would add to this one's.
find "$dir" -name '*.gcda' -delete
(cd "$dir" && ctest --output-on-failure --timeout 300 -j2) || echo "coverage.sh: some tests failed; figures below are of this run"

summary=$(gcovr --root . --filter 'src/' --filter 'tools/' --print-summary "$@" "$dir")
tests=$(nonblank_lines tests)
code=$(nonblank_lines src tools)
echo "== Coverage of src/ and tools/ by the plain suite"
echo "$summary" | grep -E '^(lines|branches):'
echo "tests: $tests non-blank lines, code (src + tools): $code, ratio $(awk "BEGIN { printf \"%.3f\", $tests / $code }")"
