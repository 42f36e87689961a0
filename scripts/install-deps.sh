#!/usr/bin/env bash
# Installs from Debian's archive what is missing to build and run the Linux
# program ("run") or to build and test everything ("test", the default).
#   scripts/install-deps.sh [run|test]
set -euo pipefail
run_packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-qpa-plugins libpulse-dev pulseaudio-utils)
test_packages=(
    "${run_packages[@]}" python3
    googletest libgtest-dev libgmock-dev libbenchmark-dev libfftw3-dev
    g++-mingw-w64-x86-64-posix wine wine64 fonts-wine fonts-liberation
    pulseaudio pipewire wireplumber pipewire-pulse dbus dbus-daemon python3-dbusmock
    sox xvfb xdotool imagemagick x11-utils
    dpkg-dev desktop-file-utils appstream lintian icoutils unzip
)
# Recommended packages are left out: they are a quarter of the test packages
# (video drivers, GStreamer, Perl accelerators, fonts). But for two of Wine's,
# listed above: its own fonts, and Liberation, which it takes for the Windows
# fonts it lacks; with only DejaVu there, the Windows program's status texts
# come out wider and get ellipses.
options=(--no-install-recommends)
if [ "${1:-test}" = run ]; then
    packages=("${run_packages[@]}")
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
