#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds, runs and tests with.
# Quick when everything is already there: it only asks dpkg.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libsdl2-dev libepoxy-dev
  libgl1-mesa-dri libegl-mesa0 libegl-dev libgl-dev
  liblua5.4-dev lua5.4
  zlib1g-dev libdeflate-dev
  libstb-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool
  clang-14 libclang-rt-14-dev clang-format-14
  fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO="sudo"
  else
    echo "setup: these packages are missing and this user cannot install them: ${missing[*]}" >&2
    echo "setup: run this script as root, or install them with apt-get." >&2
    exit 1
  fi
fi

export DEBIAN_FRONTEND=noninteractive
if ! $SUDO apt-get install -y --no-install-recommends "${missing[@]}"; then
  echo "setup: apt-get install failed; refreshing the package lists and trying once more" >&2
  if ! { $SUDO apt-get update && $SUDO apt-get install -y --no-install-recommends "${missing[@]}"; }; then
    echo "setup: could not install: ${missing[*]}" >&2
    echo "setup: check that the Debian archive is reachable (apt-get update) and try again." >&2
    exit 1
  fi
fi
