#!/bin/sh
# The man page renders without a warning from groff or man, and shows the
# usage text exactly as the program prints it.
# usage: tests/man_page_test.sh PAGE TOLVANE_BINARY
set -u
page=$1
bin=$2
fail=0

warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
if [ -n "$warnings" ]; then
    echo "groff warns:"; echo "$warnings"; fail=1
fi

warned=$(mktemp)
shown=$(MANWIDTH=80 man --warnings -l -P cat "$page" 2>"$warned")
if [ -s "$warned" ]; then
    echo "man warns:"; cat "$warned"; fail=1
fi
rm -f "$warned"

for section in NAME SYNOPSIS DESCRIPTION OPTIONS "CONSOLE KEYS" "FILE SERVICE" "EXIT STATUS" LIMITS FILES WINDOWS EXAMPLES; do
    if ! printf '%s\n' "$shown" | grep -qx "$section"; then
        echo "section missing: $section"; fail=1
    fi
done

# Called by its bare name, as the page shows it; -x is a usage error.
usage=$(PATH="$(dirname "$bin"):$PATH" tolvane -x 2>&1)
printf '%s\n' "$usage" | sed 1d | sed 's/^[[:space:]]*//' | while IFS= read -r line; do
    [ -z "$line" ] && continue
    if ! printf '%s\n' "$shown" | sed 's/^[[:space:]]*//' | grep -qxF -- "$line"; then
        echo "usage line not on the page: $line"
        exit 1
    fi
done || fail=1

[ "$fail" -eq 0 ] && echo "man page renders cleanly"
exit "$fail"
