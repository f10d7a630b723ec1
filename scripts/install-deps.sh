#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the demo use.
# Non-interactive and idempotent: apt is asked only for what is missing.
# Arguments are further packages to install the same way.
set -euo pipefail

packages=(
  cmake ninja-build pkg-config g++ make
  zlib1g-dev libminizip-dev libcurl4-openssl-dev libgtest-dev
  python3 zip unzip curl procps
  clang libclang-rt-14-dev
)
# Callers may name more, as scripts/build-windows.sh does for the mingw-w64
# cross-compilers and Wine, which the plain Linux set-up does without.
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
