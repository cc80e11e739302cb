#!/bin/sh
# The example board's test runner under tolvane as in a CI job
# (examples/mps2-an385/ci.sh): status 0 with a report of 8 passed test
# cases; with the planted failure, status 1 and the failure in the report.
# Exits 77 (skipped) only when QEMU, the Arm compiler or xmllint is missing.
#
# usage: tests/qemu_ci_test.sh SOURCE_DIR TOLVANE WORK_DIR
set -u

for tool in qemu-system-arm arm-none-eabi-gcc xmllint; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIPPED: $tool not found (scripts/install-deps.sh installs it)"
        exit 77
    fi
done
ci=$1/examples/mps2-an385/ci.sh
tolvane=$2
work=$3
mkdir -p "$work"

failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}

# run NAME [--plant-failure]: sets status and shown (tolvane's console and
# the script's verdict, CR removed).
run() {
    name=$1
    shift
    sh "$ci" "$tolvane" "$work/firmware" "$work/$name" "$@" >"$work/$name.log" 2>&1
    status=$?
    shown=$(tr -d '\r' <"$work/$name.log")
}
report() { xmllint --xpath "$1" "$work/$run_name/report.xml" 2>/dev/null; }

run_name=passing
run passing
[ "$status" -eq 0 ] || fail "passing run: status $status, not 0"
printf '%s\n' "$shown" | grep -qx PASS || fail "passing run: no PASS line"
[ "$(report 'string(/testsuite/@tests)')" = 8 ] || fail "passing run: the report does not count 8 tests"
[ "$(report 'count(/testsuite/testcase[not(failure)])')" = 8 ] || fail "passing run: not 8 passed test cases"
[ "$(report 'string(/testsuite/@failures)')" = 0 ] || fail "passing run: the report counts failures"
[ "$failed" -eq 0 ] || printf '%s\n' "--- passing run:" "$shown"

run_name=planted
run planted --plant-failure
[ "$status" -eq 1 ] || fail "planted failure: status $status, not 1"
printf '%s\n' "$shown" | grep -qx "failed: FAIL" || fail "planted failure: no 'failed: FAIL' line"
[ "$(report 'string(/testsuite/@failures)')" = 1 ] || fail "planted failure: the report does not count 1 failure"
[ "$(report 'string(/testsuite/testcase[failure]/@name)')" = planted ] || fail "planted failure: not the planted case"
[ "$(report 'count(/testsuite/testcase)')" = 8 ] || fail "planted failure: not 8 test cases"
[ "$failed" -eq 0 ] || printf '%s\n' "--- planted failure:" "$shown"

[ "$failed" -eq 0 ] && echo "board tests in CI: PASS with 8 of 8 in report.xml; planted failure: status 1, 1 in report.xml"
exit "$failed"
