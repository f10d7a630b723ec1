#!/usr/bin/env bash
# Builds the programs, makes the demo folder (scripts/make-demo.sh) and runs
# the server there in the foreground: it asks about every package, builds a
# new catalogue and serves it on UDP port 2322 until Ctrl+C.
#
# KITSYNC_BUILD_DIR picks another build folder than build/.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${KITSYNC_BUILD_DIR:-build}"
scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja > /dev/null
cmake --build "$build" --target kitsync-server kitsync-query kitsync-sync
server="$(cd "$build" && pwd)/kitsync-server"
scripts/make-demo.sh

cd demo
echo
echo "Answer the prompts (a: index every package); stop the server with Ctrl+C."
echo "From another terminal: $build/kitsync-query 127.0.0.1"
echo "A player's game folder: mkdir -p ~/demo-game && $build/kitsync-sync --optional 127.0.0.1 ~/demo-game"
echo
# -renew: every run builds the catalogue anew, so the prompts always show;
# answer o (nOall) on a later run to reuse the record cache files.
exec "$server" -renew
