# The shell tests' common start, sourced once $work is set: a fresh work
# directory (made absolute) and fail, which says what failed and counts it.
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
failures=0

fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}
