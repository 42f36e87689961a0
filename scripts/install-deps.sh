#!/usr/bin/env bash
# Installs from Debian's archive what is missing to build and run the Linux
# program ("run") or to build and test everything ("test", the default).
#   scripts/install-deps.sh [run|test]
set -euo pipefail
run_packages=(cmake ninja-build g++ pkg-config qt6-base-dev libxcb1-dev qt6-qpa-plugins libpulse-dev pulseaudio-utils)
test_packages=(
    "${run_packages[@]}" python3
    googletest libgtest-dev libgmock-dev libbenchmark-dev libfftw3-dev
    g++-mingw-w64-x86-64-posix wine wine64 fonts-wine fonts-liberation
    pulseaudio pipewire wireplumber pipewire-pulse dbus dbus-daemon python3-dbusmock
    sox xvfb xdotool imagemagick x11-utils at-spi2-core python3-pyatspi strace
    dpkg-dev desktop-file-utils appstream lintian icoutils unzip wixl msitools
)
# The tests take the packages with what they recommend: what a desktop has
# (fonts above all, whose widths decide where a status line is cut), so that
# the texts the tests read are laid out as a user sees them.
options=()
if [ "${1:-test}" = run ]; then
    packages=("${run_packages[@]}")
    options=(--no-install-recommends)
else
    packages=("${test_packages[@]}")
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${options[@]}" "${missing[@]}"
fi
