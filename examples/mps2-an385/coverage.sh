#!/bin/sh
# make example-qemu-coverage: the example board's test runner built with
# --coverage -fprofile-info-section (firmware-coverage.elf) in QEMU, under
# tolvane as a CI job runs it:
#     tolvane -c LINE -d OUT --expect PASS --fail FAIL --timeout 60 </dev/null
# Before its last line the board writes one .gcda file per measured source
# into OUT through tolvane (host_gcov_dump, client/hostfs_gcov.h). Then the
# build's .gcno files are copied beside them, arm-none-eabi-gcov reads both
# (its .gcov files stay in OUT) and the line coverage of each source is
# printed. Exits with tolvane's status (0 passed, 1 failed, 124 timed out),
# or 3 when a .gcda file is missing, gcov cannot read it or it shows a
# source with no line run (each of the runner's sources runs).
#
# usage: examples/mps2-an385/coverage.sh TOLVANE BUILD_DIR OUT_DIR
set -eu

if [ $# -ne 3 ] || [ -z "$3" ]; then
    echo "usage: $0 TOLVANE BUILD_DIR OUT_DIR" >&2
    exit 2
fi
example=$(cd "$(dirname "$0")" && pwd)
. "$example/qemu.sh"
tolvane=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")

build_firmware "$example" "$2"
build=$(cd "$2" && pwd)
rm -rf "$3"
mkdir -p "$3"
out=$(cd "$3" && pwd)

trap stop_qemu EXIT
trap 'exit 130' INT TERM HUP
start_qemu "$build/firmware-coverage.elf" "$build/qemu-coverage.log"

status=0
"$tolvane" -c "$qemu_line" -d "$out" --expect PASS --fail FAIL --timeout 60 </dev/null || status=$?
stop_qemu

bad_coverage() {
    echo "coverage: $*" >&2
    exit 3
}
# One pointer in .gcov_info per measured source, one .gcda file for each.
units=$(arm-none-eabi-size -A "$build/firmware-coverage.elf" | awk '$1 == ".gcov_info" {print $2 / 4}')
set -- "$out"/*.gcda
[ -e "$1" ] || bad_coverage "no .gcda file in $out (tolvane's status $status)"
[ "$#" -eq "$units" ] || bad_coverage "$# .gcda files in $out for $units measured sources"
for gcda in "$@"; do
    gcno=$build/CMakeFiles/firmware-coverage.dir/$(basename "$gcda" .gcda).gcno
    [ -f "$gcno" ] || bad_coverage "$(basename "$gcda") has no $gcno"
    cp "$gcno" "$out/"
done

# gcov names each source and its figure: "File '...'", then
# "Lines executed:92.44% of 119".
if ! (cd "$out" && arm-none-eabi-gcov "$@") >"$out/gcov.log" 2>&1; then
    cat "$out/gcov.log" >&2
    bad_coverage "arm-none-eabi-gcov could not read the files"
fi
grep -q '^Lines executed:' "$out/gcov.log" || bad_coverage "arm-none-eabi-gcov found no lines"
echo "line coverage on the board (arm-none-eabi-gcov; $out):"
awk -F"'" '/^File / {file = $2; sub(/.*\//, "", file); next}
    /^Lines executed:/ {sub(/^Lines executed:/, ""); printf "  %-12s %s lines\n", file == "" ? "all" : file, $0; file = ""}' \
    "$out/gcov.log"
# A source of the runner that shows no line run had its .gcda cut short.
unrun=$(awk -F"'" '/^File / {file = $2} /^Lines executed:0.00% / && file != "" {printf " %s", file} /^Lines/ {file = ""}' \
    "$out/gcov.log")
[ -z "$unrun" ] || bad_coverage "no line run in$unrun"
exit "$status"
