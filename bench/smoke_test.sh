#!/bin/sh
# The benchmark runs end to end with tiny sizes and prints its table (no
# figure is judged: speed targets live in the table, not in tests). Then
# once more with its peers out of reach: they must show as missing, with
# no quotient, never as a zero.
set -eu
bench=$1
scratch=$2
tiny="--runs=1 --passthrough=2k --file=2k --getc=20 --idle-ms=50 --keys=2k --wine-idle-ms=50"

has() {
    printf '%s\n' "$1" | grep -q -- "$2" || { printf 'not in the table: %s\n' "$2"; exit 1; }
}

out=$("$bench" $tiny --scratch="$scratch/peers")
printf '%s\n' "$out"
has "$out" '^| figure *| tolvane *| peer '
# Reads and writes of every size beside the bare host, the floor.
has "$out" '^| file write, 512 B requests, CPU-s/MB *| [0-9][0-9.e+-]* *| bare host (floor) *| [0-9]'
for figure in 'passthrough MB/s' 'passthrough CPU-s/MB' 'file read, 64 B requests, MB/s' \
    'file write, 65536 B requests, CPU-s/MB' 'get character turnaround p99, µs' 'idle CPU-s over [0-9.]* s' \
    'passthrough --map INLCRNL -t CPU-s/MB'; do
    has "$out" "^| $figure *| [0-9]"
done
# tolvane-win's rows: figures where Wine and the program are here.
for figure in 'passthrough to a pipe, MB/s' 'keys piped to the line, KB/s' 'get character requests/s'; do
    has "$out" "^| tolvane-win under Wine: $figure *| \([0-9]\|missing \)"
done

out=$("$bench" $tiny --scratch="$scratch/no-peers" --picocom=/nonexistent/picocom --sz=/nonexistent/sz \
    --tolvane-win=/nonexistent/tolvane-win.exe)
printf '%s\n' "$out"
has "$out" '^| passthrough MB/s *| [0-9.e+-]* *| picocom *| missing *| — *| ≥ 1.0× *| no peer *|'
has "$out" '^| file read, 4096 B requests, MB/s *| [0-9.e+-]* *| lrzsz sz → rz *| missing *| — *|'
has "$out" '^| passthrough MB/s *| [0-9.e+-]* *| cat (limit) *| [0-9]'
has "$out" '^| tolvane-win under Wine: passthrough to a pipe, MB/s *| missing *| tolvane, piped *| — *| — *| ≥ 1 *| not run *|'
