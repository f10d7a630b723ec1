#!/bin/sh
# kitsync-inspect on archives made here: its text and JSON reports, and the
# build's error messages with a non-zero exit status.
set -eu
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

crc() { python3 -c 'import sys, zlib; print("%08x" % zlib.crc32(sys.argv[1].encode()))' "$1"; }
fail() { echo "FAIL: $*"; exit 1; }

mkdir -p src/Data
printf 'pbo data' > src/Data/A.PBO
printf 'read me' > src/readme.txt
(cd src && zip -q -r ../mods.zip Data readme.txt)
"$tool" mods.zip > out.txt || fail "simple package exit status $?"
pbo=$(crc 'pbo data')
readme=$(crc 'read me')
sum=$(python3 -c "print('%08x' % (0x$pbo ^ 0x$readme))")
cat > expected.txt <<END
Warning: No Kitsync block found, using simple installation method
Package name: mods
Info URL    : 
Rules, first match decides:
  1. IGNORE kitsync.txt
  2. INSTALL *.pbo addons\\
  3. EXTRACT * addons\\
Install tree:
  addons\\
    A.PBO  8 bytes  crc $pbo
    readme.txt  7 bytes  crc $readme  (extract only)
Listed files: 1
Package checksum: $sum
END
diff expected.txt out.txt || fail "text report differs"

"$tool" --json mods.zip > out.json || fail "json exit status"
python3 - "$pbo" "$sum" <<'END' || fail "json report"
import json, sys
r = json.load(open("out.json"))
assert r["error"] is None and r["blockFound"] is False and r["packageName"] == "mods", r
assert [x["command"] for x in r["rules"]] == ["IGNORE", "INSTALL", "EXTRACT"], r["rules"]
addons = r["tree"][0]
assert addons["name"] == "addons\\" and addons["children"][0] == {
    "name": "A.PBO", "size": 8, "crc": sys.argv[1], "extractOnly": False}, addons
assert addons["children"][1]["extractOnly"] is True
assert r["listedFiles"] == 1 and r["checksum"] == sys.argv[2], r
END

expect_error() { # archive message
    status=0
    "$tool" "$1" > out.txt || status=$?
    [ "$status" -eq 1 ] || fail "$1: exit status $status"
    [ "$(tail -n 1 out.txt)" = "$2" ] || fail "$1: last line '$(tail -n 1 out.txt)'"
}
echo "not a zip" > text.zip
expect_error text.zip "Error: Problems reading the Kitsync block"
[ "$(cat out.txt)" = "Error: Problems reading the Kitsync block" ] || fail "nothing but the message"

python3 - <<'END'
import zipfile
with zipfile.ZipFile("unsafe.zip", "w") as z:
    z.writestr("kitsync.txt", "KITSYNC_START\nINSTALLPATH *\nKITSYNC_END\n")
    z.writestr("../evil.pbo", "x")
with zipfile.ZipFile("extract.zip", "w") as z:
    z.writestr("kitsync.txt", "KITSYNC_START\nEXTRACT * addons/\nKITSYNC_END\n")
    z.writestr("a.pbo", "x")
END
expect_error unsafe.zip "Error: Unsafe install path for archive entry ../evil.pbo"
expect_error extract.zip "Error: No required files in package (no install/installpath command detected)"
"$tool" --json unsafe.zip > out.json && fail "json failure exit status"
python3 -c 'import json; r = json.load(open("out.json")); assert r["error"].startswith("Error: Unsafe"), r' \
    || fail "json error"

status=0
"$tool" 2> /dev/null || status=$?
[ "$status" -eq 2 ] || fail "usage exit status $status"
echo "kitsync-inspect: all checks passed"
