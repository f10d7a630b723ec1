#!/usr/bin/env bash
# Checks the Debian package as an operator gets it: builds
# kitsync_VERSION_amd64.deb with dpkg-buildpackage (in build-pkg/, from a
# copy of the tree), checks it with lintian (errors fail), installs it with
# apt in a fresh Debian 12 root made by debootstrap --variant=minbase, and
# there runs kitsync-server --version, starts the server from the installed
# path as kitsync-server@pkgtest.service would (user kitsync, working folder
# /var/lib/kitsync/pkgtest, standard input /dev/null), queries it with the
# installed kitsync-query, fills a game folder from it with kitsync-sync,
# stops it with SIGTERM, restarts it after a package was added (the stored catalogue must be flagged), and runs
# systemd-analyze security (at most 2.0) and verify on the installed unit.
#
# The debootstrap root is made once per machine and kept in
# KITSYNC_TEST_ROOT (default /var/cache/kitsync-test-root/base); each run
# installs into a fresh copy of it. Needs root (chroot, mount).
set -euo pipefail
cd "$(dirname "$0")/.."
began=$(date +%s)

scripts/install-deps.sh debhelper help2man lintian debootstrap systemd dpkg-dev fakeroot pkgconf

cache=${KITSYNC_TEST_ROOT:-/var/cache/kitsync-test-root/base}
out=$PWD/build-pkg
version=$(sed -n 's/^project(kitsync VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
changelog_version=$(dpkg-parsechangelog -S Version)
passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAILED: $1"; }
check() { # DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then pass; else fail "$what"; fi
}

check "debian/changelog's version ($changelog_version) is the project's ($version)" \
  test "$changelog_version" = "$version"

echo "== Building the package"
rm -rf "$out" && mkdir -p "$out/src"
tar --exclude='./build*' --exclude=./.git -cf - . | tar -xf - -C "$out/src"
(cd "$out/src" && nice -n 10 dpkg-buildpackage -us -uc -b -j2 > "$out/build.log" 2>&1) || {
  grep -E "error|Error" "$out/build.log" | tail -20
  exit 1
}
deb="$out/kitsync_${version}_amd64.deb"
[ -f "$deb" ] || { echo "no $deb" >&2; exit 1; }
echo "-- $(basename "$deb"): $(stat -c %s "$deb") bytes"

echo "== lintian"
lintian_status=0
lintian --tag-display-limit 0 "$deb" > "$out/lintian.txt" 2>&1 || lintian_status=$?
cat "$out/lintian.txt"
check "lintian reports no errors" test "$lintian_status" -eq 0

echo "== Debian 12 root"
# Made once: minbase, then what the checks use that a real host has
# (/etc/hosts, systemd for systemd-analyze, man-db for the unit's man page).
if [ ! -d "$cache" ]; then
  rm -rf "$cache.tmp" && mkdir -p "$(dirname "$cache")"
  nice -n 10 debootstrap --variant=minbase bookworm "$cache.tmp" http://deb.debian.org/debian > "$out/debootstrap.log"
  mv "$cache.tmp" "$cache"
fi
root=$(mktemp -d /tmp/kitsync-pkg-root.XXXXXX)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2> /dev/null || true
  umount "$root/proc" 2> /dev/null || true
  umount "$cache/proc" 2> /dev/null || true  # mounted only while the cache is prepared
  # Never remove a root whose /proc is still mounted.
  mountpoint -q "$root/proc" || rm -rf "$root"
}
trap cleanup EXIT
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
prepare_cache() {
  printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' > "$cache/etc/hosts"
  mount -t proc proc "$cache/proc"
  local status=0
  chroot "$cache" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
    sh -c 'apt-get update -qq && apt-get install -y -qq --no-install-recommends systemd man-db > /dev/null' || status=$?
  umount "$cache/proc"
  [ "$status" -eq 0 ] && touch "$cache/.kitsync-ready"
}
if [ ! -f "$cache/.kitsync-ready" ] || [ ! -f "$cache/etc/hosts" ] || [ ! -x "$cache/usr/bin/systemd-analyze" ]; then
  prepare_cache
fi
cp -a "$cache/." "$root/"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"

echo "== apt install ./$(basename "$deb")"
cp "$deb" "$root/tmp/"
in_root sh -c "apt-get update -qq && apt-get install -y -qq /tmp/$(basename "$deb")" > "$out/apt.log" 2>&1 || {
  tail -20 "$out/apt.log"
  exit 1
}
check "the package pulls its libraries in through apt" in_root dpkg-query -W libcurl4 libminizip1 zlib1g
check "the package made the kitsync system user" in_root getent passwd kitsync
check "the man pages are installed" test -f "$root/usr/share/man/man1/kitsync-server.1.gz"
check "the sample kitsync.ini is installed" test -f "$root/usr/share/doc/kitsync/kitsync.ini"
mkdir "$root/tmp/empty"
version_line=$(in_root sh -c 'cd /tmp/empty && exec /usr/bin/kitsync-server --version')
check "kitsync-server --version leaves its folder alone" test -z "$(ls -A "$root/tmp/empty")"
check "kitsync-server --version prints \"kitsync-server $version\" (got \"$version_line\")" \
  test "$version_line" = "kitsync-server $version"

echo "== The server as kitsync-server@pkgtest.service starts it"
unit=/lib/systemd/system/kitsync-server@.service
instance=/var/lib/kitsync/pkgtest
check "the unit names the working folder" grep -qx 'WorkingDirectory=/var/lib/kitsync/%i' "$root$unit"
check "the unit names the user" grep -qx 'User=kitsync' "$root$unit"
# What systemd does on start: the state folder, owned by the user, 0750.
install -d -m 0750 "$root$instance"
mkdir -p "$root/srv/packages"
python3 - "$root/srv/packages" <<'PY'
import sys, zipfile
for name, title in (("units.zip", "Package Test Units"), ("maps.zip", "Package Test Maps")):
    with zipfile.ZipFile(sys.argv[1] + "/" + name, "w") as z:
        z.writestr("kitsync.txt", 'KITSYNC_START\r\nPACKAGE "%s"\r\nINSTALL *.pbo addons\\\r\nKITSYNC_END\r\n' % title)
        z.writestr("a.pbo", b"pbo" * 100)
PY
game_port=$(python3 -c 'import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1] - 20)')
printf 'port %s\nservername "Package test"\npackage file:///srv/packages/units.zip\n' "$game_port" > "$root$instance/kitsync.ini"
in_root chown -R kitsync:kitsync "$instance"

# An exited child stays a zombie until waited for, and kill -0 reaches it.
running() { local state; state=$(ps -o stat= -p "$1") && [[ $state != Z* ]]; }
start_server() { # CONSOLE-FILE
  chroot "$root" /bin/sh -c "cd $instance && exec setpriv --reuid=kitsync --regid=kitsync --init-groups \
    --no-new-privs /usr/bin/kitsync-server" < /dev/null > "$1" 2>&1 &
  server_pid=$!
  for ((i = 0; i < 300; i++)); do
    grep -qs 'Server is running' "$1" && return 0
    running "$server_pid" || break
    sleep 0.1
  done
  cat "$1"
  return 1
}
stop_server() { # CONSOLE-FILE
  kill -TERM "$server_pid"
  local status=0
  # As the unit's TimeoutStopSec: 15 s, then SIGKILL.
  for ((i = 0; i < 150; i++)); do
    running "$server_pid" || break
    sleep 0.1
  done
  kill -KILL "$server_pid" 2> /dev/null || true
  wait "$server_pid" || status=$?
  server_pid=
  check "SIGTERM stops the server with status 0 (was $status)" test "$status" -eq 0
  check "the server says it stopped" grep -q 'Server stopped' "$1"
}

console="$out/console-1.txt"
if start_server "$console"; then
  pass
  udp_port=$(sed -n 's/^UDP port \([0-9]*\) opened.*/\1/p' "$console")
  check "the catalogue is stored in the instance folder, owned by kitsync" \
    test "$(in_root stat -c %U "$instance/addoninfoblock.udp")" = kitsync
  query_status=0
  in_root /usr/bin/kitsync-query "127.0.0.1:$udp_port" > "$out/query.txt" 2>&1 || query_status=$?
  check "the installed kitsync-query reads the catalogue (status $query_status)" test "$query_status" -eq 0
  check "the query lists the package" grep -q 'Package Test Units' "$out/query.txt"
  sync_status=0
  mkdir -p "$root/tmp/game"
  in_root env HOME=/root /usr/bin/kitsync-sync "127.0.0.1:$udp_port" /tmp/game > "$out/sync.txt" 2>&1 || sync_status=$?
  check "the installed kitsync-sync fills a game folder (status $sync_status)" test "$sync_status" -eq 0
  check "the synced folder holds the package's file" cmp -s "$root/tmp/game/addons/a.pbo" <(printf 'pbo%.0s' {1..100})
  stop_server "$console"

  # A package added to kitsync.ini: the stored catalogue is still served,
  # and start-up says it was built from other settings.
  echo 'package file:///srv/packages/maps.zip optional' >> "$root$instance/kitsync.ini"
  console="$out/console-2.txt"
  if start_server "$console"; then
    check "a changed kitsync.ini is flagged on start-up" grep -q '^Warning: .*-renew' "$console"
    stop_server "$console"
  else
    fail "the second start did not come up"
  fi
else
  fail "the installed server did not start"
fi

echo "== systemd-analyze on the installed unit"
in_root systemd-analyze security --offline=true "$unit" > "$out/security.txt" 2>&1 || true
score=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' "$out/security.txt")
echo "-- systemd-analyze security: ${score:-none}"
check "systemd-analyze security rates the unit 2.0 or lower (${score:-none})" \
  awk -v s="${score:-99}" 'BEGIN { exit !(s <= 2.0) }'
verify_status=0
in_root systemd-analyze verify "$unit" > "$out/verify.txt" 2>&1 || verify_status=$?
cat "$out/verify.txt"
check "systemd-analyze verify passes" test "$verify_status" -eq 0

echo "== Package check took $(($(date +%s) - began)) s"
echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
