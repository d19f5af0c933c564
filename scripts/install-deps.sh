#!/bin/sh
# Installs what building and testing need, skipping what is already present.
set -eu
packages="cmake make g++ python3 libgtest-dev libgmock-dev libbenchmark-dev
clang libclang-rt-14-dev llvm clang-tidy cppcheck shellcheck
mingw-w64 wine64 xvfb xdotool imagemagick x11-utils bubblewrap debootstrap
xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils"
missing=""
for package in $packages; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [ "$status" = "installed" ] || missing="$missing $package"
done
if [ -z "$missing" ]; then
    echo "install-deps: everything is present"
else
    echo "install-deps: installing$missing"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
fi
# The 32-bit build's Wine, and on every run the emulator's registration,
# which a reboot drops.
"$(dirname "$0")/install-wine32.sh"
# Wine 10 in a Debian 13 root of its own, for the scaled displays.
"$(dirname "$0")/install-wine10.sh"
