#!/bin/sh
# Installs the Debian packages tolvane needs to build and test, only those
# missing. Quiet when everything is there; safe to run again.
set -eu

packages="cmake ninja-build g++ make libgtest-dev googletest tmux groff-base man-db
picocom lrzsz
g++-mingw-w64-x86-64 wine wine64
gcc-arm-none-eabi qemu-system-arm"

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if [ "$(id -u)" -ne 0 ]; then
    echo "Run as root, or install these packages by hand:$missing" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq $missing >/dev/null
