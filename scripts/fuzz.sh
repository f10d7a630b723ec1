#!/usr/bin/env bash
# Builds the libFuzzer programs (build-fuzz/, clang with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS seconds, then prints
# per program the executions, the coverage reached and whether it crashed.
# The corpus grows across runs in build-fuzz/corpus/<program>; the seeds and
# the minimised corpus kept in fuzz/corpus/<program> are read as well.
# Crashing inputs are kept in build-fuzz/crashes/. Exits 1 when any program
# crashed.
#
# Usage: scripts/fuzz.sh SECONDS [PROGRAM...]
#   FUZZ_JOBS=2 runs two programs side by side (never more: the machine is
#   shared), FUZZ_BUILD picks another build folder, FUZZ_CORPUS another
#   folder for the growing corpus (a long campaign keeps it outside the
#   tree), FUZZ_RUNS stops each program after that many executions.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: scripts/fuzz.sh SECONDS [PROGRAM...]}
shift
build=${FUZZ_BUILD:-build-fuzz}
jobs=${FUZZ_JOBS:-1}
[ "$jobs" -gt 2 ] && jobs=2

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DKITSYNC_FUZZ=ON -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKITSYNC_WERROR="${KITSYNC_WERROR:-OFF}" > /dev/null
cmake --build "$build" -j2 --target fuzzers > "$build/fuzz-build.log" 2>&1 || {
  cat "$build/fuzz-build.log"; exit 1; }

programs=("$@")
if [ ${#programs[@]} -eq 0 ]; then
  for p in "$build"/fuzz-*; do
    [ -x "$p" ] && [ -f "$p" ] && programs+=("$(basename "$p")")
  done
fi

corpus=${FUZZ_CORPUS:-$build/corpus}
runs=${FUZZ_RUNS:--1}
rm -rf "$build/seeds"
python3 fuzz/make-seeds.py "$build/seeds"
mkdir -p "$corpus" "$build/crashes" "$build/logs"

# A small quarantine keeps freed memory warm: a program that allocates per
# input (the catalogue decoder's inflate state) ran three times as many
# inputs per processor second, and 16 MB still outlasts every input's frees.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:symbolize=1:quarantine_size_mb=16
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run_one() {
  local program=$1
  local log="$build/logs/$program.log"
  local inputs=("$corpus/$program" "$build/seeds/$program")
  [ -d "fuzz/corpus/$program" ] && inputs+=("fuzz/corpus/$program")
  mkdir -p "${inputs[@]:0:2}"
  set +e
  "$build/$program" -max_total_time="$seconds" -runs="$runs" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/crashes/$program-" "${inputs[@]}" > "$log" 2>&1
  echo $? > "$log.status"
  set -e
}

pids=()
for program in "${programs[@]}"; do
  run_one "$program" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}"
    pids=("${pids[@]:1}")
  fi
done
wait

failed=0
printf '%-20s %12s %8s %8s  %s\n' program executions cov ft result
for program in "${programs[@]}"; do
  log="$build/logs/$program.log"
  status=$(cat "$log.status")
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  # The last status line carries the final coverage: "#N ... cov: C ft: F".
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  if [ -z "$executions" ]; then
    executions=$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#')
  fi
  result=ok
  if [ "$status" != 0 ]; then
    result="CRASHED (exit $status, see $log)"
    failed=1
  fi
  printf '%-20s %12s %8s %8s  %s\n' "$program" "${executions:-?}" "${cov:-?}" "${ft:-?}" "$result"
done
if [ "$failed" != 0 ]; then
  for program in "${programs[@]}"; do
    log="$build/logs/$program.log"
    if [ "$(cat "$log.status")" != 0 ]; then
      echo "== $program"
      grep -E 'ERROR|SUMMARY|Test unit written|runtime error|deadly signal|Timeout' "$log" | head -20
    fi
  done
fi
exit $failed
