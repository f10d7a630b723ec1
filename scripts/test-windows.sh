#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and tests them under
# Wine: the unit test programs (less tests/windows/excluded-tests.txt), the
# Windows-only tests against a live HTTP server, and an end-to-end run of
# kitsync-server.exe from the unpacked release zip: a catalogue build that downloads its packages through
# WinINet, the fallback port when the first is taken, a query and a full
# chunk fetch by the Linux kitsync-query, Ctrl+C, and a restart that loads
# the stored catalogue. Exits non-zero when anything fails.
#
# KITSYNC_WIN_BUILD (default build-win) and KITSYNC_LINUX_BUILD (default
# build, for kitsync-query and kitsync-server) pick the build folders.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
began=$(date +%s)

win=${KITSYNC_WIN_BUILD:-build-win}
linux=${KITSYNC_LINUX_BUILD:-build}

scripts/build-windows.sh > /dev/null
cmake -S . -B "$linux" -G Ninja > /dev/null
cmake --build "$linux" --target kitsync-query kitsync-server kitsync-sync > /dev/null
query="$root/$linux/kitsync-query"
linux_sync="$root/$linux/kitsync-sync"
linux_server="$root/$linux/kitsync-server"

export WINEPREFIX="$root/$win/_wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== Making the Wine prefix $WINEPREFIX"
  wineboot --init > /dev/null 2>&1 || true
fi

scratch=$(mktemp -d /tmp/kitsync-wine.XXXXXX)
started=()
cleanup() {
  for pid in "${started[@]}"; do
    kill "$pid" 2> /dev/null || true
  done
  for pid in "${started[@]}"; do
    wait "$pid" 2> /dev/null || true
  done
  rm -rf "$scratch"
}
trap cleanup EXIT

passed=0
failed=0
skipped=0
failures=()
pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); failures+=("$1"); echo "FAILED: $1"; }

# The Windows path of a Linux path: Wine's drive Z: is the root.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# Waits up to $2 seconds for the text $3 in file $1.
wait_for_text() {
  local file=$1 seconds=$2 text=$3
  for ((i = 0; i < seconds * 10; i++)); do
    grep -qF -- "$text" "$file" 2> /dev/null && return 0
    sleep 0.1
  done
  return 1
}

echo "== Windows unit tests under Wine"
# tests/support/http_server.py for windows_tests: byte i of each file is i % 251.
mkdir -p "$scratch/served"
python3 -c "
import sys
for name, size in (('pattern.bin', 300000), ('three.bin', 3000)):
    open(sys.argv[1] + '/' + name, 'wb').write(bytes(i % 251 for i in range(size)))" "$scratch/served"
python3 tests/support/http_server.py --root "$scratch/served" --log "$scratch/requests.log" > "$scratch/http.port" &
started+=($!)
wait_for_text "$scratch/http.port" 10 "" && sleep 0.2
export KITSYNC_WIN_TEST_HTTP="http://127.0.0.1:$(head -1 "$scratch/http.port")"
KITSYNC_WIN_TEST_HTTP_LOG=$(windows_path "$scratch/requests.log")
export KITSYNC_WIN_TEST_HTTP_LOG

for exe in "$win"/*_tests.exe; do
  program=$(basename "$exe" .exe)
  excluded=$(awk -v p="$program" '$1 == p {print $2}' tests/windows/excluded-tests.txt | paste -sd: -)
  if [ "$excluded" = "*" ]; then
    echo "-- $program: left out (tests/windows/excluded-tests.txt)"
    continue
  fi
  log="$scratch/$program.log"
  status=0
  (cd "$scratch" && timeout 600 wine "$root/$exe" --gtest_filter="*${excluded:+-$excluded}" > "$log" 2>&1) || status=$?
  ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' "$log")
  bad=$(grep -c '^\[  FAILED  \] [A-Za-z0-9_]*\.[A-Za-z0-9_]* (' "$log" || true)
  skip=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?.*/\1/p' "$log")
  ran=${ran:-0}
  skip=${skip:-0}
  echo "-- $program: $((ran - bad - skip)) passed, $bad failed, $skip skipped"
  passed=$((passed + ran - bad - skip))
  skipped=$((skipped + skip))
  if [ "$status" -ne 0 ] || [ "$bad" -ne 0 ] || [ "$ran" -eq 0 ]; then
    failed=$((failed + (bad > 0 ? bad : 1)))
    failures+=("$program")
    grep -E '^\[  FAILED  \]|Failure|\.cpp:[0-9]+' "$log" | head -40 || tail -20 "$log"
  fi
done

echo "== End to end: kitsync-server.exe under Wine, queried by the Linux kitsync-query"
e2e="$scratch/e2e"
# The server runs from the unpacked release zip, as an operator gets it.
mkdir -p "$e2e/unpacked"
release_zip=$(ls "$win"/kitsync-*-windows-x64.zip)
unzip -q "$release_zip" -d "$e2e/unpacked"
release_dir="$e2e/unpacked/$(basename "$release_zip" .zip)"
for f in kitsync-server.exe kitsync-query.exe kitsync-inspect.exe kitsync-sync.exe kitsync.ini README.txt; do
  if [ -f "$release_dir/$f" ]; then pass; else fail "the release zip holds $f"; fi
done
server_exe="$release_dir/kitsync-server.exe"
mkdir -p "$e2e/packages" "$e2e/win" "$e2e/linux"
# Two packages with enough files for a catalogue of several chunks, and a
# larger one that a slow server sends for more than a second, so the
# download shows its progress lines.
python3 - "$e2e/packages" <<'PY'
import os, random, sys, zipfile
out = sys.argv[1]
rng = random.Random(7)
with zipfile.ZipFile(out + "/units.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("kitsync.txt", 'Units\r\nKITSYNC_START\r\nPACKAGE "Wine Units"\r\nINFOURL http://example.org/units\r\n'
               'INSTALL *.pbo addons\\\r\nINSTALL keys\\*.bikey keys\\\r\nEXTRACT *.txt docs\\\r\nKITSYNC_END\r\n')
    for i in range(40):
        z.writestr("Addons/unit_%02d_%s.pbo" % (i, "x" * (i % 13)), bytes(rng.getrandbits(8) for _ in range(2000 + 37 * i)))
    z.writestr("Keys/units.bikey", b"key" * 50)
    z.writestr("readme.txt", "Wine units " * 40)
with zipfile.ZipFile(out + "/maps.zip", "w", zipfile.ZIP_STORED) as z:
    for i in range(25):
        z.writestr("map_%02d.pbo" % i, ("map %d " % i) * (300 + i))
with zipfile.ZipFile(out + "/slow.zip", "w", zipfile.ZIP_STORED) as z:
    z.writestr("slow.pbo", bytes(rng.getrandbits(8) for _ in range(600000)))
PY
mkdir -p "$e2e/slow"
mv "$e2e/packages/slow.zip" "$e2e/slow/"
(cd "$e2e/packages" && exec python3 -u -m http.server --bind 127.0.0.1 0 > "$e2e/packages.log" 2>&1) &
started+=($!)
# The same file server, holding back: 64 KiB every 200 ms.
(cd "$e2e/slow" && exec python3 -u -c '
import http.server, time
class Slow(http.server.SimpleHTTPRequestHandler):
    def copyfile(self, source, target):
        while True:
            piece = source.read(65536)
            if not piece:
                return
            target.write(piece)
            target.flush()
            time.sleep(0.2)
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Slow)
print("port", server.server_address[1], flush=True)
server.serve_forever()
' > "$e2e/slow.log" 2>&1) &
started+=($!)
wait_for_text "$e2e/packages.log" 10 "Serving HTTP"
package_port=$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$e2e/packages.log" | head -1)
wait_for_text "$e2e/slow.log" 10 "port "
slow_port=$(sed -n 's/^port \([0-9]*\)$/\1/p' "$e2e/slow.log" | head -1)

# A game port whose + 20 and + 40 are free; + 20 is then taken by another
# program, so the server must fall back to + 40.
read -r game_port linux_game_port < <(python3 -c '
import random, socket
def free(p):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        s.bind(("0.0.0.0", p)); return True
    except OSError:
        return False
    finally:
        s.close()
found = []
while len(found) < 2:
    p = random.randrange(20000, 40000)
    if all(free(p + k) for k in (20, 40)) and all(abs(p - q) > 50 for q in found):
        found.append(p)
print(*found)')
python3 -u -c '
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", int(sys.argv[1])))
print("holding", flush=True)
time.sleep(900)' $((game_port + 20)) > "$e2e/holder.log" &
started+=($!)
wait_for_text "$e2e/holder.log" 10 holding

write_settings() { # FOLDER PORT
  cat > "$1/kitsync.ini" <<INI
port $2
servername "Wine Server"
serveradmin "admin@example.org"
package http://127.0.0.1:$package_port/units.zip
package http://127.0.0.1:$package_port/maps.zip optional
package http://127.0.0.1:$slow_port/slow.zip
INI
}
write_settings "$e2e/win" "$game_port"
write_settings "$e2e/linux" "$linux_game_port"

check() { # DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then pass; else fail "$what"; fi
}
console_has() { grep -qF -- "$2" "$1"; }

# Answers "a" (yesAll) to the first prompt: every package is downloaded.
# No pipeline: $! must be the program itself, for the signals below.
printf 'a\n' > "$e2e/answers.txt"
start_windows_server() { # CONSOLE-FILE [ARGS...]
  local console=$1; shift
  (cd "$e2e/win" && exec wine "$server_exe" "$@" < "$e2e/answers.txt" > "$console" 2>&1) &
  server_pid=$!
  started+=("$server_pid")
}
# Ctrl+C on the console reaches a Windows program under Wine as SIGINT.
interrupt_server() { # CONSOLE-FILE
  kill -INT "$server_pid"
  local status=0
  for ((i = 0; i < 100; i++)); do
    kill -0 "$server_pid" 2> /dev/null || break
    sleep 0.1
  done
  if kill -0 "$server_pid" 2> /dev/null; then
    fail "Ctrl+C did not stop kitsync-server.exe within 10 s"
    kill "$server_pid"
  fi
  wait "$server_pid" || status=$?
  check "exit status 0 after Ctrl+C (was $status)" test "$status" -eq 0
  check "\"Server stopped\" after Ctrl+C" console_has "$1" "Server stopped"
}

console="$e2e/win-console.txt"
start_windows_server "$console"
if wait_for_text "$console" 180 "Server is running"; then
  pass
  check "the build downloads through WinINet" console_has "$console" "Downloading http://127.0.0.1:$package_port/units.zip"
  check "the build names the package" console_has "$console" "Package name: Wine Units"
  check "a slow download shows its progress" \
    grep -qE "Received: [0-9]+/$(( $(stat -c %s "$e2e/slow/slow.zip") / 1024 )) kb"$'\r' "$console"
  check "downloads end with Done..." test "$(grep -c 'Done\.\.\.' "$console")" -eq 3
  check "bind warning for the taken port" console_has "$console" \
    "Warning: Could not bind to port $((game_port + 20)). Trying alternative port at $((game_port + 40))."
  check "fallback port opened" console_has "$console" "UDP port $((game_port + 40)) opened"
  check "the catalogue is stored" test -s "$e2e/win/addoninfoblock.udp"
  chunk_id=$(sed -n 's/.*chunk labeled \([0-9a-f]*\) .*/\1/p' "$console")
  chunks=$(sed -n 's/.*split into \([0-9]*\) packages.*/\1/p' "$console")
  check "the catalogue has several chunks ($chunks)" test "${chunks:-0}" -ge 2

  # The Linux client: query, every chunk, the uncompressed image.
  status=0
  "$query" --json --save "$e2e/win-image.bin" "127.0.0.1:$((game_port + 40))" > "$e2e/win-query.json" 2> "$e2e/win-query.err" || status=$?
  check "kitsync-query fetched the catalogue (status $status: $(cat "$e2e/win-query.err"))" test "$status" -eq 0
  check "the query reports the server's id" grep -q "\"id\": \"$chunk_id\"" "$e2e/win-query.json"
  check "the query lists the package" grep -q '"name": "Wine Units"' "$e2e/win-query.json"
  check "the server logged the query" wait_for_text "$console" 5 "Sending chunks to 127.0.0.1:"

  # The player's side on Windows: kitsync-sync.exe downloads through WinINet
  # and installs into a folder; the Linux tool, synced from the same server,
  # must leave the same files.
  mkdir -p "$e2e/wingame/Addons" "$e2e/linuxgame/Addons"
  status=0
  (cd "$e2e" && wine "$release_dir/kitsync-sync.exe" --optional --cache "$(windows_path "$e2e/wincache")" \
    "127.0.0.1:$((game_port + 40))" "$(windows_path "$e2e/wingame")" > "$e2e/win-sync.txt" 2> "$e2e/win-sync.err") || status=$?
  check "kitsync-sync.exe brought the folder in line (status $status: $(tail -3 "$e2e/win-sync.err"))" test "$status" -eq 0
  status=0
  "$linux_sync" --optional --cache "$e2e/linuxcache" "127.0.0.1:$((game_port + 40))" "$e2e/linuxgame" \
    > "$e2e/linux-sync.txt" 2>&1 || status=$?
  check "the Linux kitsync-sync synced from the Windows server (status $status)" test "$status" -eq 0
  check "both tools leave the same files" diff -r "$e2e/wingame" "$e2e/linuxgame"
  check "the folder holds the units' files" test -f "$e2e/wingame/Addons/unit_00_.pbo"
  status=0
  (cd "$e2e" && wine "$release_dir/kitsync-sync.exe" --json --optional --cache "$(windows_path "$e2e/wincache")" \
    "127.0.0.1:$((game_port + 40))" "$(windows_path "$e2e/wingame")" > "$e2e/win-sync.json" 2> /dev/null) || status=$?
  check "a second kitsync-sync.exe run finds everything complete (status $status)" \
    python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); assert d["complete"] and all(p["state"] == "complete" for p in d["packages"])' "$e2e/win-sync.json"

  # The Linux server, built from the same packages, must make the same
  # catalogue image (only the id differs between builds).
  (cd "$e2e/linux" && exec "$linux_server" < "$e2e/answers.txt" > "$e2e/linux-console.txt" 2>&1) &
  linux_pid=$!
  started+=("$linux_pid")
  if wait_for_text "$e2e/linux-console.txt" 120 "Server is running"; then
    "$query" --save "$e2e/linux-image.bin" "127.0.0.1:$((linux_game_port + 20))" > /dev/null 2>&1 || true
    check "Windows and Linux build the same catalogue image" cmp -s "$e2e/win-image.bin" "$e2e/linux-image.bin"
  else
    fail "the Linux server did not start: $(tail -3 "$e2e/linux-console.txt")"
  fi
  kill -INT "$linux_pid" 2> /dev/null || true
  wait "$linux_pid" 2> /dev/null || true

  interrupt_server "$console"

  # Started again, the server loads what it stored (MoveFileExA's file).
  console2="$e2e/win-console-2.txt"
  start_windows_server "$console2"
  if wait_for_text "$console2" 60 "Server is running"; then
    check "a restart loads the stored catalogue" console_has "$console2" "Addon info block with id $chunk_id loaded"
    status=0
    "$query" "127.0.0.1:$((game_port + 40))" > /dev/null 2>&1 || status=$?
    check "the restarted server answers (status $status)" test "$status" -eq 0
    interrupt_server "$console2"
  else
    fail "the second start did not come up: $(tail -5 "$console2")"
  fi
else
  fail "kitsync-server.exe did not start serving"
  tail -30 "$console"
fi

took=$(( $(date +%s) - began ))
echo "== Windows tests under Wine took ${took} s"
echo "windows: $passed passed, $failed failed, $skipped skipped"
if [ "$failed" -ne 0 ]; then
  printf 'failed: %s\n' "${failures[@]}"
  exit 1
fi
