#!/bin/sh
# The example board's newlib firmware (examples/mps2-an385/newlib.c) on
# QEMU's mps2-an385 under the real tolvane, headless as in CI: fopen,
# fprintf, fscanf, fseek, rename, remove, open and printf unchanged on top
# of client/hostfs_newlib.c. Checks tolvane's status and console (the
# framing bytes printed as text arrive as they are, a line typed reaches
# fgets on stdin) and the host files byte for byte. Then the runtime
# firmware (examples/mps2-an385/runtime.c) under tolvane -d without a
# terminal: stat sees the host file's size, time the host's clock, the
# directory it makes is gone again, and tolvane ends with its exit(3).
# Exits 77 (skipped) only when QEMU, the Arm compiler or newlib is missing.
#
# usage: tests/qemu_newlib_test.sh SOURCE_DIR TOLVANE WORK_DIR
set -eu

for tool in qemu-system-arm arm-none-eabi-gcc; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIPPED: $tool not found (scripts/install-deps.sh installs it)"
        exit 77
    fi
done
libc_nano=$(arm-none-eabi-gcc -mcpu=cortex-m3 -mthumb -print-file-name=libc_nano.a)
case $libc_nano in
/*) [ -f "$libc_nano" ] ;;
*) false ;;
esac || {
    echo "SKIPPED: newlib not found (libnewlib-arm-none-eabi; scripts/install-deps.sh installs it)"
    exit 77
}

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

trap stop_qemu EXIT
trap 'exit 1' INT TERM HUP
start_qemu "$work/firmware/firmware-newlib.elf" "$work/qemu.log"
console=$work/console.log
status=0
"$tolvane" -c "$qemu_line" -d "$run" --expect 'type a line' --send 'hello board\r' \
    --expect PASS --fail FAIL --timeout 60 </dev/null >"$console" 2>&1 || status=$?
stop_qemu

failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}
[ "$status" -eq 0 ] || fail "tolvane's status $status, not 0"
shown=$(tr -d '\r' <"$console")
printf '%s\n' "$shown" | grep -qx PASS || fail "no PASS line"
printf '%s\n' "$shown" | grep -q '^not ok' && fail "a step failed"
printf '%s\n' "$shown" | grep -qx "type a line: got 'hello board'" || fail "the typed line did not reach fgets on stdin"
# LF went out as CR LF, the framing bytes after a DLE: shown as they are.
printf 'framing bytes as text: <\002\003\020>\r\n' >"$work/framing.expected"
grep -qaF -f "$work/framing.expected" "$console" || fail "the framing bytes printed as text did not arrive as they are"

# bytes.bin: every byte value twice, byte 10 overwritten with X by r+b.
expected=$( (seq 0 255; seq 0 255) | awk 'NR == 11 {print 88; next} {print}')
on_host=$(od -An -v -tu1 "$run/bytes.bin" 2>/dev/null | tr -s ' ' '\n' | grep . || true)
[ "$on_host" = "$expected" ] || fail "bytes.bin on the host is not 0..255 twice with X at 10"
printf '3 apples and pears\ntotal -12345\nlast line\nappended\n' | cmp -s - "$run/kept.txt" ||
    fail "kept.txt on the host is not what fprintf and the append wrote"
printf 'abc' | cmp -s - "$run/raw.bin" || fail "raw.bin on the host is not what write wrote"
[ ! -e "$run/notes.txt" ] || fail "notes.txt is still there after the rename"
[ ! -e "$run/scratch.tmp" ] || fail "scratch.tmp is still there after the remove"
left=$(cd "$run" && ls | tr '\n' ' ')
[ "$left" = "bytes.bin kept.txt raw.bin " ] || fail "the host holds other files: $left"

if [ "$failed" -ne 0 ]; then
    echo "--- tolvane's console:"
    printf '%s\n' "$shown"
    echo "--- QEMU:"
    cat "$work/qemu.log"
    exit 1
fi
printf '%s\n' "$shown" | sed -n '/^mps2-an385/,$p' | tr -d '\002\003\020'
echo "host files as newlib left them: bytes.bin, kept.txt, raw.bin; notes.txt and scratch.tmp gone"

# The runtime firmware: no --expect, keys from /dev/null; only its exit
# status ends tolvane (the --timeout is the safety net: status 124).
runtime=$work/runtime
rm -rf "$runtime"
mkdir -p "$runtime"
head -c 1234 /dev/zero >"$runtime/given.txt"
start_qemu "$work/firmware/firmware-runtime.elf" "$work/qemu-runtime.log"
before=$(date +%s)
status=0
"$tolvane" -c "$qemu_line" -d "$runtime" --timeout 60 </dev/null >"$work/runtime.log" 2>&1 || status=$?
after=$(date +%s)
stop_qemu
shown=$(tr -d '\r' <"$work/runtime.log")
[ "$status" -eq 3 ] || fail "the runtime firmware: tolvane's status $status, not the board's 3"
printf '%s\n' "$shown" | grep -qx 'given.txt: 1234 bytes' || fail "stat did not see given.txt's 1234 bytes"
board_time=$(printf '%s\n' "$shown" | sed -n 's/^time: \([0-9]*\)$/\1/p')
[ -n "$board_time" ] && [ "$board_time" -ge "$before" ] && [ "$board_time" -le "$after" ] ||
    fail "the board's time '$board_time' is not the host's ($before..$after)"
printf '%s\n' "$shown" | grep -q '^gettimeofday: [0-9]*\.[0-9]\{6\}$' || fail "no gettimeofday line"
printf '%s\n' "$shown" | grep -qx 'directory made and removed: yes' || fail "mkdir, unlink and rmdir did not all work"
left=$(cd "$runtime" && ls | tr '\n' ' ')
[ "$left" = "given.txt " ] || fail "the runtime firmware left more than given.txt: $left"
if [ "$failed" -ne 0 ]; then
    echo "--- tolvane's console (runtime):"
    printf '%s\n' "$shown"
    cat "$work/qemu-runtime.log"
    exit 1
fi
printf '%s\n' "$shown" | sed -n '/^mps2-an385/,$p'
echo "the runtime firmware: tolvane ended with the board's exit status 3"

