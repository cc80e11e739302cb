#!/bin/sh
# make demo: tolvane in this terminal on the line of tolvane-sim, a
# simulated board, in a scratch directory of sample files. Ctrl-Q ends
# tolvane; the board goes with it and nothing is left running.
#
# usage: sim/demo.sh BUILD_DIR DEMO_DIR    (DEMO_DIR is made afresh)
set -eu

if [ $# -ne 2 ] || [ -z "$2" ]; then
    echo "usage: $0 BUILD_DIR DEMO_DIR" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
rm -rf "$2"
mkdir -p "$2/docs"
demo=$(cd "$2" && pwd)

printf 'Hello from the host!\n' >"$demo/hello.txt"
printf '%s\n' "Things to try on the board:" "help" "ls" "cat hello.txt" \
    "put note.txt written by the board" "append note.txt and one more line" \
    "head notes.txt 3" "stat hello.txt" "cp hello.txt docs/copy.txt" \
    "ls docs/*" "mv note.txt docs/note.txt" "rm docs/copy.txt" >"$demo/notes.txt"
printf 'id,name\n1,alpha\n2,beta\n' >"$demo/docs/table.csv"

run=$(mktemp -d)
sim_pid=
finish() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$run"
}
trap finish EXIT
trap 'exit 130' INT TERM HUP

# -o: the board ends when tolvane closes the line.
"$build/tolvane-sim" -o -v -f "$run/line" </dev/null >/dev/null 2>"$run/sim.log" &
sim_pid=$!

tries=0
while [ ! -s "$run/line" ]; do
    tries=$((tries + 1))
    if ! kill -0 "$sim_pid" 2>/dev/null || [ "$tries" -gt 200 ]; then
        cat "$run/sim.log" >&2
        echo "demo: the simulated board did not start" >&2
        exit 1
    fi
    sleep 0.05
done
line=$(cat "$run/line")

cat <<TEXT

The simulated board listens on $line; tolvane now runs on it
in $demo. At the board's prompt try:

    help                     the board's commands
    ls                       list the host's files (through tolvane)
    cat hello.txt            print one
    put note.txt some text   write one, then look at it on the host
    head notes.txt 3         the first lines

Leave with Ctrl-Q.

TEXT

cd "$demo"
"$build/tolvane" -c "$line"
