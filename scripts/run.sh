#!/usr/bin/env bash
# Builds the Linux program (optimised, no tests) and starts it.
# Installs the build and run dependencies with apt-get when they are missing.
#   scripts/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-qpa-plugins libpulse-dev pulseaudio-utils)
missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -ne 0 ]; then
    sudo=
    if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
    $sudo apt-get update
    $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake --preset linux-release
cmake --build --preset linux-release
exec build/linux-release/platform/linux/quorvel
