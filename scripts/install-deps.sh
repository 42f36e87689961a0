#!/usr/bin/env bash
# Installs everything the builds and tests need from Debian's archive.
set -euo pipefail
packages=(
    cmake ninja-build g++ pkg-config python3
    googletest libgtest-dev libgmock-dev libbenchmark-dev libfftw3-dev
    qt6-base-dev qt6-qpa-plugins libpulse-dev
    g++-mingw-w64-x86-64-posix wine wine64
    pulseaudio pulseaudio-utils sox xvfb xdotool imagemagick x11-utils
    dpkg-dev desktop-file-utils appstream lintian icoutils unzip
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
