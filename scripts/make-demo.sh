#!/usr/bin/env bash
# Makes demo/: two small add-on packages made with Info-ZIP zip in
# demo/packages/, and a kitsync.ini that lists them by file:// URLs. The
# server runs in demo/ itself, so its downloads, record cache files and
# addoninfoblock.udp land there, apart from the packages they come from.
set -euo pipefail
cd "$(dirname "$0")/.."

demo="$PWD/demo"
packages="$demo/packages"
rm -rf "$packages"
mkdir -p "$packages"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Contents that differ per file, so every entry has a CRC-32 of its own.
fill() { # fill FILE BYTES TEXT
  mkdir -p "$(dirname "$1")"
  head -c "$2" < <(yes "$3") > "$1"  # not a pipe: yes ends by SIGPIPE
}

# Demo Units: an instruction block that installs the .pbo files and the
# key, keeps the user configuration at its own path and only extracts the
# readme.
units="$scratch/units"
fill "$units/Addons/demo_units.pbo" 48000 "demo units"
fill "$units/Addons/demo_units_sounds.pbo" 20000 "demo unit sounds"
fill "$units/Keys/demo.bikey" 160 "demo key"
fill "$units/userconfig/demo_units/settings.hpp" 300 "demo_units_volume = 1;"
fill "$units/readme.txt" 400 "Demo Units: a package made for trying out the Kitsync server."
cat > "$units/kitsync.txt" <<'BLOCK'
Demo Units for the Kitsync demo.

KITSYNC_START
PACKAGE "Demo Units"
INFOURL http://127.0.0.1/demo-units
INSTALL *.pbo addons\
INSTALL keys\*.bikey keys\
INSTALLPATH userconfig\*
EXTRACT *.txt addons\demo_units\
KITSYNC_END
BLOCK
(cd "$units" && zip -qrX "$packages/demo_units.zip" kitsync.txt Addons Keys userconfig readme.txt)

# Demo Maps, optional: no instruction block, so the simple installation
# method applies (every .pbo into addons\, the rest only extracted).
maps="$scratch/maps"
fill "$maps/demo_island.pbo" 64000 "demo island"
fill "$maps/notes.txt" 200 "Demo Maps: one island."
(cd "$maps" && zip -qrX "$packages/demo_maps.zip" demo_island.pbo notes.txt)

cat > "$demo/kitsync.ini" <<INI
// The Kitsync demo configuration, written by scripts/make-demo.sh.
// The game server would run on port 2302; catalogue clients use UDP 2322.
port 2302
servername "Kitsync Demo Server"
serverinfo "Two demo packages, indexed from the local disk"
serveradmin "admin@example.org"
comserver "voice.example.org:9987"
// senddelay is left at its default of 200 ms between sending passes.
package file://$packages/demo_units.zip
package file://$packages/demo_maps.zip optional
INI

echo "Demo folder ready: demo/"
