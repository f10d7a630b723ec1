#!/usr/bin/env bash
# Throughput of downloadPackage against curl on the same loopback server.
#
# Serves a file of random bytes (SIZE_MB, default 500) with python3's
# http.server on 127.0.0.1, then fetches it ROUNDS times (default 3) with
# the driver and with `curl -s -o`, alternating, and reports the best time
# of each and the ratio of throughputs (driver / curl; 0.9 or more is the
# target). Every downloaded copy is compared with the original.
# The project is built into BUILD_DIR (default build-bench) with
# -DKITSYNC_BENCH=ON. The temporary folder is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/../.."

size_mb=${SIZE_MB:-500}
rounds=${ROUNDS:-3}
build=${BUILD_DIR:-build-bench}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKITSYNC_BENCH=ON -DBUILD_TESTING=OFF > /dev/null
cmake --build "$build" -j2 --target kitsync-download-bench > /dev/null
driver="$build/kitsync-download-bench"

work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/served"
head -c "$((size_mb * 1024 * 1024))" /dev/urandom > "$work/served/package.bin"
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$work/served" > "$work/server.log" 2>&1 &
server=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/server.log" | head -n 1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the server did not start"; cat "$work/server.log"; exit 1; }
url="http://127.0.0.1:$port/package.bin"

now() { date +%s.%N; }

# Runs one client, checks its copy, prints the seconds it took.
timed() {
  local start end
  rm -f "$work/copy.bin"
  start=$(now)
  "$@" > /dev/null
  end=$(now)
  cmp -s "$work/copy.bin" "$work/served/package.bin" || { echo "corrupt copy from: $*" >&2; exit 1; }
  rm -f "$work/copy.bin"
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

best_driver=
best_curl=
for round in $(seq "$rounds"); do
  # Alternate which client goes first, so neither always meets a cold cache.
  if [ $((round % 2)) -eq 1 ]; then
    t_driver=$(timed "$driver" "$url" "$work/copy.bin")
    t_curl=$(timed curl -s -o "$work/copy.bin" "$url")
  else
    t_curl=$(timed curl -s -o "$work/copy.bin" "$url")
    t_driver=$(timed "$driver" "$url" "$work/copy.bin")
  fi
  echo "round $round: downloadPackage $t_driver s, curl $t_curl s"
  best_driver=$(min "$t_driver" "$best_driver")
  best_curl=$(min "$t_curl" "$best_curl")
done

awk -v mb="$size_mb" -v d="$best_driver" -v c="$best_curl" 'BEGIN {
  printf "file: %d MiB over http://127.0.0.1 (python3 -m http.server)\n", mb
  printf "downloadPackage: best %.3f s = %.1f MiB/s\n", d, mb / d
  printf "curl -s -o:      best %.3f s = %.1f MiB/s\n", c, mb / c
  printf "throughput ratio downloadPackage/curl: %.3f (target >= 0.9)\n", c / d
}'
