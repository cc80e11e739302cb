#!/bin/sh
# The example firmware on QEMU's mps2-an385 against the real tolvane: the
# board's PASS line on tolvane's console, and the files it left on the host.
# Exits 77 (skipped) only when QEMU or the Arm compiler is not installed.
#
# usage: tests/qemu_example_test.sh SOURCE_DIR TOLVANE WORK_DIR
set -eu

for tool in qemu-system-arm arm-none-eabi-gcc; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIPPED: $tool not found (scripts/install-deps.sh installs it)"
        exit 77
    fi
done

source_dir=$(cd "$1" && pwd)
tolvane=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
mkdir -p "$3"
work=$(cd "$3" && pwd)

example=$source_dir/examples/mps2-an385
. "$example/qemu.sh"

run=$work/run
rm -rf "$run"
mkdir -p "$run"
build_firmware "$example" "$work/firmware"

tolvane_pid=
finish() {
    if [ -n "$tolvane_pid" ]; then
        kill "$tolvane_pid" 2>/dev/null || true
        wait "$tolvane_pid" 2>/dev/null || true
        tolvane_pid=
    fi
    stop_qemu
}
trap finish EXIT
trap 'exit 1' INT TERM HUP

start_qemu "$work/firmware/firmware.elf" "$work/qemu.log"
console=$work/console.log
(cd "$run" && exec "$tolvane" -c "$qemu_line") </dev/null >"$console" 2>&1 &
tolvane_pid=$!

# The board needs a second or two; after 25 s it is stuck.
result=
tries=0
while [ -z "$result" ] && [ "$tries" -lt 500 ] && kill -0 "$tolvane_pid" 2>/dev/null; do
    sleep 0.05
    tries=$((tries + 1))
    result=$(tr -d '\r' <"$console" | grep -x -E 'PASS|FAIL' || true)
done
finish

failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}
[ "$result" = PASS ] || fail "the board ended with '${result:-nothing}'"
on_host=$(od -An -v -tu1 "$run/bytes.bin" 2>/dev/null | tr -s ' ' '\n' | grep . || true)
[ "$on_host" = "$(seq 0 255)" ] || fail "bytes.bin on the host does not hold the 256 byte values in order"
printf 'first line\n2nd line\n' | cmp -s - "$run/log.txt" || fail "log.txt on the host is not what the board wrote"
[ ! -e "$run/notes.txt" ] || fail "notes.txt is still there after the rename"
[ ! -e "$run/scratch.tmp" ] || fail "scratch.tmp is still there after the remove"

if [ "$failed" -ne 0 ]; then
    echo "--- tolvane's console:"
    tr -d '\r' <"$console"
    echo "--- QEMU:"
    cat "$work/qemu.log"
    exit 1
fi
tr -d '\r' <"$console" | sed -n '/^mps2-an385/,$p'
echo "host files as the board left them: bytes.bin, log.txt; notes.txt and scratch.tmp gone"
