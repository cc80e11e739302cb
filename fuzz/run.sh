#!/bin/sh
# Runs one fuzz target so that it cannot change a file outside its work
# directory, also as root:
#
#   run.sh replay BINARY NAME WORK            every checked-in input once
#   run.sh fuzz   BINARY NAME WORK SECONDS    fuzzing from them for SECONDS
#
# WORK keeps corpus/ (inputs found, from run to run) and artifacts/
# (crashing inputs). The run itself gets in/ (a copy of the binary, the
# inputs and the dictionary) and scratch/ (the line target's files; its
# root is the file service's root) beside them.
#
# What protects a run, besides the service root the line target serves:
# - a mount namespace in which every mount but the run's directory is
#   read-only (for a user, inside a user namespace of its own);
# - as root, the target runs as nobody:nogroup, with no capabilities and
#   no way to gain any, and the run's directory belongs to nobody.
# Where the system refuses namespaces, the rest still holds and it says so.
set -eu

# The target's side of the namespace: the run's directory stays writable,
# every other mount becomes read-only, then the command runs.
if [ "${1:-}" = "--inside" ]; then
    run=$2
    shift 2
    mount --bind "$run" "$run"
    points=$(cut -d' ' -f5 /proc/self/mountinfo)
    failed=""
    while IFS= read -r point; do
        point=$(printf '%b' "$point")  # mountinfo writes a space as \040
        case "$point" in "$run" | "$run"/*) continue ;; esac
        mount -o remount,bind,ro "$point" 2>/dev/null || failed="$failed $point"
    done <<EOF_POINTS
$points
EOF_POINTS
    [ -z "$failed" ] || echo "run.sh: stays writable (the system refused read-only):$failed" >&2
    exec "$@"
fi

usage() {
    echo "usage: $0 replay BINARY NAME WORK | fuzz BINARY NAME WORK SECONDS" >&2
    exit 2
}
[ $# -ge 4 ] || usage
mode=$1 binary=$2 name=$3 work=$4
seconds=${5:-}
case "$mode" in
replay) ;;
fuzz) [ -n "$seconds" ] || usage ;;
*) usage ;;
esac
here=$(cd "$(dirname "$0")" && pwd)

mkdir -p "$work/corpus" "$work/artifacts"
work=$(cd "$work" && pwd)
nobody="setpriv --reuid=nobody --regid=nogroup --clear-groups"
if [ "$(id -u)" -eq 0 ]; then
    drop="$nobody --inh-caps=-all --bounding-set=-all --no-new-privs"
    namespace="unshare --mount --propagation private"
    who="as nobody"
else
    drop="setpriv --inh-caps=-all --bounding-set=-all --no-new-privs"
    namespace="unshare --user --map-root-user --mount --propagation private"
    who="as $(id -un)"
fi

# The run happens in RUN: WORK itself, or, as root where WORK's parents are
# closed to nobody, a directory of its own in /tmp, copied back afterwards.
run=$work
if [ "$(id -u)" -eq 0 ] && ! $nobody test -x "$work"; then
    run=$(mktemp -d "${TMPDIR:-/tmp}/tolvane-fuzz-run.XXXXXX")
    chmod 755 "$run"
    cp -R "$work/corpus" "$work/artifacts" "$run/"
fi
rm -rf "$run/in" "$run/scratch"
mkdir -p "$run/in/corpus" "$run/in/regressions" "$run/scratch"
cp "$binary" "$run/in/fuzzer"
for kind in corpus regressions; do
    if [ -d "$here/$kind/$name" ]; then cp -R "$here/$kind/$name/." "$run/in/$kind/"; fi
done
cp "$here/$name.dict" "$run/in/dict"
if [ "$(id -u)" -eq 0 ]; then chown -R nobody:nogroup "$run"; fi

if $namespace true 2>/dev/null; then
    isolated=true
    echo "run.sh: $name $mode $who, every mount but $run read-only" >&2
else
    isolated=false
    echo "run.sh: no mount namespace here: $name $mode $who, held by the service root" >&2
fi

# The command, as the protections above allow.
sandboxed() {
    if $isolated; then
        $namespace sh "$here/run.sh" --inside "$run" $drop "$@"
    elif [ "$(id -u)" -eq 0 ]; then
        $drop "$@"
    else
        "$@"
    fi
}

export TOLVANE_FUZZ_DIR="$run/scratch"
in="$run/in"
common="-timeout=25 -rss_limit_mb=2048"
status=0
if [ "$mode" = replay ]; then
    set --
    for input in "$in"/corpus/* "$in"/regressions/*; do
        if [ -f "$input" ]; then set -- "$@" "$input"; fi
    done
    if [ $# -eq 0 ]; then
        echo "run.sh: no inputs to replay for $name" >&2
        exit 1
    fi
    count=$#
    sandboxed "$in/fuzzer" $common -artifact_prefix="$run/artifacts/" "$@" || status=$?
    [ $status -ne 0 ] || echo "run.sh: $name: all $count inputs replayed" >&2
else
    sandboxed "$in/fuzzer" $common -max_total_time="$seconds" -max_len=4096 -dict="$in/dict" \
        -artifact_prefix="$run/artifacts/" -print_final_stats=1 "$run/corpus" "$in/corpus" "$in/regressions" ||
        status=$?
fi
if [ "$run" != "$work" ]; then
    cp -R "$run/corpus/." "$work/corpus/"
    cp -R "$run/artifacts/." "$work/artifacts/"
    rm -rf "$run"
fi
if [ $status -ne 0 ]; then
    echo "run.sh: $name $mode failed ($status); crashing inputs are kept in $work/artifacts/" >&2
fi
exit $status
