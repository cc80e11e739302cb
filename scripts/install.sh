#!/bin/sh
# make install and make uninstall.
#
# install: cmake --install into $DESTDIR$PREFIX, then the files CMake lists
# in its install manifest are added to BUILD_DIR/installed.txt. CMake
# rewrites its manifest on every cmake --install (the tests' own
# included), so uninstall reads this record instead.
# uninstall: removes the recorded files that lie in $DESTDIR$PREFIX and
# drops them from the record; directories are left in place.
#
# usage: scripts/install.sh install|uninstall BUILD_DIR PREFIX
#        (DESTDIR from the environment, empty or unset for none)
set -eu

if [ $# -ne 3 ] || [ -z "$3" ]; then
    echo "usage: $0 install|uninstall BUILD_DIR PREFIX" >&2
    exit 2
fi
action=$1
build=$2
prefix=$3
destdir=${DESTDIR:-}
record=$build/installed.txt

# As CMake takes them: relative to where make runs.
case $prefix in /*) ;; *) prefix=$PWD/$prefix ;; esac
case $destdir in '' | /*) ;; *) destdir=$PWD/$destdir ;; esac

# Every line of a file, the last one also without its newline.
lines() {
    [ -f "$1" ] || return 0
    while IFS= read -r line || [ -n "$line" ]; do
        printf '%s\n' "$line"
    done <"$1"
}

case $action in
install)
    cmake --install "$build" --prefix "$prefix"
    # The manifest leaves DESTDIR out.
    {
        lines "$record"
        lines "$build/install_manifest.txt" | while IFS= read -r file; do
            printf '%s%s\n' "$destdir" "$file"
        done
    } | sort -u >"$record.new"
    mv "$record.new" "$record"
    ;;
uninstall)
    dest=$destdir$prefix
    # Compared as the file system sees them: /opt/x/, /opt/./x and a link
    # to /opt/x all name /opt/x.
    if where=$(cd "$dest" 2>/dev/null && pwd -P); then
        where=${where%/}/
    else
        where=
    fi
    lines "$record" >"$record.old"
    : >"$record.new"
    removed=0
    while IFS= read -r file; do
        [ -e "$file" ] || [ -L "$file" ] || continue # gone already: forgotten
        real=$(cd "$(dirname "$file")" && pwd -P)
        real=${real%/}/$(basename "$file")
        if [ -n "$where" ] && [ "${real#"$where"}" != "$real" ]; then
            rm -f "$file"
            echo "-- Removed: $file"
            removed=$((removed + 1))
        else
            printf '%s\n' "$file" >>"$record.new"
        fi
    done <"$record.old"
    rm -f "$record.old"
    if [ -s "$record.new" ]; then
        mv "$record.new" "$record"
    else
        rm -f "$record.new" "$record"
    fi
    if [ "$removed" -eq 0 ]; then
        echo "Nothing installed from this tree in $dest."
        [ ! -f "$record" ] || { echo "Installed elsewhere (make uninstall PREFIX=... as for make install):"; lines "$record"; }
    fi
    ;;
*)
    echo "usage: $0 install|uninstall BUILD_DIR PREFIX" >&2
    exit 2
    ;;
esac
