#!/bin/sh
# Coverage onto the CI machine (examples/mps2-an385/coverage.sh): the test
# runner built with --coverage in QEMU under tolvane writes its .gcda files
# through the line into the output directory; arm-none-eabi-gcov reads them
# and counts the lines that ran (CRC-32's loop: 9 times for "123456789")
# and not those that did not (printing why a check failed).
# Exits 77 (skipped) only when QEMU or the Arm compiler is missing.
#
# usage: tests/qemu_coverage_test.sh SOURCE_DIR TOLVANE WORK_DIR
set -u

for tool in qemu-system-arm arm-none-eabi-gcc arm-none-eabi-gcov; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIPPED: $tool not found (scripts/install-deps.sh installs it)"
        exit 77
    fi
done
script=$1/examples/mps2-an385/coverage.sh
tolvane=$2
work=$3
mkdir -p "$work"
out=$work/out

failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}

sh "$script" "$tolvane" "$work/firmware" "$out" >"$work/coverage.log" 2>&1
status=$?
shown=$(tr -d '\r' <"$work/coverage.log")
[ "$status" -eq 0 ] || fail "status $status, not 0"
printf '%s\n' "$shown" | grep -qx PASS || fail "no PASS line"
printf '%s\n' "$shown" | grep -qx 'coverage: .gcda files written' || fail "the board did not say it wrote its .gcda files"
for source in tests.c uart.c libc.c; do
    [ -s "$out/$source.gcda" ] || fail "no $source.gcda in the output directory"
    printf '%s\n' "$shown" | grep -q "^  $source  *[0-9.]*% of [0-9]* lines" || fail "no line coverage printed for $source"
done
[ ! -e "$out/startup.c.gcda" ] || fail "startup.c was measured, though built without --coverage"
# gcov's counts in tests.c.gcov: "count:line:source"; ##### never ran.
gcov_file=$out/tests.c.gcov
grep -qE '^ +9:[ 0-9]+: +crc \^= \*bytes\+\+;' "$gcov_file" 2>/dev/null ||
    fail "tests.c.gcov does not count CRC-32's loop 9 times"
grep -qE '^ +#####:[ 0-9]+: +uart_puts\(why\[i\]\);' "$gcov_file" 2>/dev/null ||
    fail "tests.c.gcov counts the printing of a check's failure as run"
grep -qE '^ +1:[ 0-9]+:int main\(void\) \{' "$gcov_file" 2>/dev/null || fail "tests.c.gcov does not count main once"

if [ "$failed" -ne 0 ]; then
    echo "--- coverage.sh:"
    printf '%s\n' "$shown"
    exit 1
fi
printf '%s\n' "$shown" | sed -n '/^line coverage/,$p'
echo "coverage onto the host: .gcda files for tests.c, uart.c, libc.c; gcov counts what ran"
