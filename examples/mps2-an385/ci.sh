#!/bin/sh
# make example-qemu-ci: the example board's test runner in QEMU, under
# tolvane as a CI job runs it, headless:
#     tolvane -c LINE -d OUT --expect PASS --fail FAIL --timeout 60 </dev/null
# then OUT/report.xml checked as JUnit XML: it parses, its counts agree with
# its test cases, and it has failures exactly when tolvane's status says so.
# Exits with tolvane's status (0 passed, 1 failed, 124 timed out, 255 line
# lost), or 3 when the report is missing or wrong.
#
# usage: examples/mps2-an385/ci.sh TOLVANE BUILD_DIR OUT_DIR [--plant-failure]
set -eu

if [ $# -lt 3 ] || [ $# -gt 4 ] || [ -z "$3" ] || { [ $# -eq 4 ] && [ "$4" != --plant-failure ]; }; then
    echo "usage: $0 TOLVANE BUILD_DIR OUT_DIR [--plant-failure]" >&2
    exit 2
fi
example=$(cd "$(dirname "$0")" && pwd)
. "$example/qemu.sh"
tolvane=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
plant=OFF
[ $# -eq 4 ] && plant=ON

build_firmware "$example" "$2" -DPLANT_FAILURE=$plant
rm -rf "$3"
mkdir -p "$3"
out=$(cd "$3" && pwd)

trap stop_qemu EXIT
trap 'exit 130' INT TERM HUP
start_qemu "$2/firmware-tests.elf" "$2/qemu-tests.log"

status=0
"$tolvane" -c "$qemu_line" -d "$out" --expect PASS --fail FAIL --timeout 60 </dev/null || status=$?
stop_qemu

report=$out/report.xml
bad_report() {
    echo "report.xml: $*" >&2
    exit 3
}
[ -f "$report" ] || bad_report "not written (tolvane's status $status)"
xmllint --noout "$report" || bad_report "no well-formed XML"
count() { xmllint --xpath "$1" "$report"; }
[ "$(count 'count(/testsuite)')" = 1 ] || bad_report "no <testsuite> at the top"
cases=$(count 'count(/testsuite/testcase)')
failed=$(count 'count(/testsuite/testcase[failure or error])')
[ "$(count 'string(/testsuite/@tests)')" = "$cases" ] || bad_report "tests= is not the number of test cases"
[ "$(count 'string(/testsuite/@failures)')" = "$failed" ] || bad_report "failures= is not the number failed"
[ "$cases" -gt 0 ] || bad_report "no test cases"
if [ "$status" -eq 0 ] && [ "$failed" -ne 0 ]; then bad_report "$failed failed, yet the board said PASS"; fi
if [ "$status" -eq 1 ] && [ "$failed" -eq 0 ]; then bad_report "none failed, yet the board said FAIL"; fi
echo "report.xml: $cases tests, $failed failed; tolvane's status $status"
exit "$status"
