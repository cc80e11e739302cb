#!/bin/sh
# make example-qemu: the example firmware on QEMU's mps2-an385, and tolvane
# in this terminal on the board's serial line, in a scratch directory. The
# board waits for tolvane, works on host files and prints PASS or FAIL.
# Ctrl-Q ends tolvane, and QEMU with it. FIRMWARE names another of the
# example's firmwares, such as firmware-newlib (it asks for a line: type one).
#
# usage: examples/mps2-an385/run.sh TOLVANE BUILD_DIR SCRATCH_DIR [FIRMWARE]
set -eu

if [ $# -lt 3 ] || [ $# -gt 4 ] || [ -z "$3" ]; then
    echo "usage: $0 TOLVANE BUILD_DIR SCRATCH_DIR [FIRMWARE]" >&2
    exit 2
fi
example=$(cd "$(dirname "$0")" && pwd)
. "$example/qemu.sh"
tolvane=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")

build_firmware "$example" "$2"
firmware=$(cd "$2" && pwd)/${4:-firmware}.elf
if [ ! -f "$firmware" ]; then
    echo "$firmware was not built (firmware-newlib needs newlib: scripts/install-deps.sh)" >&2
    exit 1
fi
rm -rf "$3"
mkdir -p "$3"
scratch=$(cd "$3" && pwd)

trap stop_qemu EXIT
trap 'exit 130' INT TERM HUP
start_qemu "$firmware" "$2/qemu.log"

cat <<TEXT

QEMU runs the board on $qemu_line; tolvane now serves it in
$scratch. The board's lines follow. Leave with Ctrl-Q.

TEXT

cd "$scratch"
"$tolvane" -c "$qemu_line"
